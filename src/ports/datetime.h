#pragma once
// The date type the database and the window system both speak.

namespace updater::ports {

// A date and time, local, to the second.
struct DateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

}  // namespace updater::ports
