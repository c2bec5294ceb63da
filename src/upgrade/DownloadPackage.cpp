// The package download: GET gcweb + "/uploads/soft/setup.rar" into P\tmp\setup.rar, with the
// progress in ProgressBar1; a download that broke off is continued from where it ended, and a
// package the last update left behind supplies the blocks that did not change.
#include <chrono>
#include <climits>
#include <cstdlib>
#include <optional>
#include <vector>

#include "helpers/SupportLog.h"
#include "ports/errors.h"
#include "upgrade/KeptDownload.h"
#include "upgrade/frmUpgrade.h"

namespace updater {

namespace {

constexpr std::size_t kChunk = 1024;

// The announced length as a 32-bit signed integer; raises like the conversion it stands for.
std::int32_t ToLength(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  const std::string digits = text.substr(i);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
    throw RuntimeError(kErrTypeMismatch);
  }
  if (digits.size() > 10 || std::strtoll(digits.c_str(), nullptr, 10) > INT32_MAX) {
    throw RuntimeError(kErrOverflow);
  }
  return static_cast<std::int32_t>(std::strtoll(digits.c_str(), nullptr, 10));
}

// "N bytes in T ms", what the log says of a download.
std::string Took(std::int64_t bytes, std::chrono::steady_clock::time_point started) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - started)
                      .count();
  return std::to_string(bytes) + " bytes in " + std::to_string(ms) + " ms";
}

// Closes and removes a partial package. Raises nothing: the error that led here is the one the
// caller must see, and the removal must not be skipped by a second error on the way.
void Discard(ports::BinaryFile& file, ports::FileIO& io, const std::string& path) noexcept {
  try {
    file.Close();
  } catch (...) {
  }
  try {
    io.Kill(path);
  } catch (...) {
  }
}

}  // namespace

void frmUpgrade::DownloadPackage() {
  txtUrl.Text = PackageUrl();
  const std::string local = programFolder_ + "\\tmp\\setup.rar";

  const auto request = [&](const std::optional<KeptPart>& rest) {
    auto transfer = pf_.io->NewTransfer();
    transfer->Execute(txtUrl.Text, "get", rest ? RangeRequest(*rest) : std::vector<std::string>{});
    while (transfer->StillExecuting()) pf_.ui->DoEvents();
    return transfer;
  };
  const auto started = std::chrono::steady_clock::now();
  KeptDownload kept(pf_, programFolder_);
  std::optional<KeptPart> part = kept.Find(txtUrl.Text, Text1.Text, Text2.Text);
  // Bytes kept of this very package are continued; otherwise only what changed is fetched,
  // when the last update left its package behind and the server indexes the new one.
  if (!part && RebuildPackage(local)) {
    Label2.Caption = "升级下载完成，正在升级...";
    return;
  }
  auto inet = request(part);
  if (part && !ContinuesPart(*inet, *part)) {
    // The kept bytes cannot be continued. A range the server got wrong or refused is asked for
    // again as the whole package; any other answer already is the whole package's.
    const int status = inet->StatusCode();
    kept.Forget();
    part.reset();
    if (status == 206 || status == 416) inet = request(part);
  }
  if (inet->StatusCode() == 0) {
    // No answer at all (refused, reset, timed out) is a download that broke before its body.
    SupportLog::Write(pf_, "download " + txtUrl.Text + ": no answer");
    pf_.ui->MsgBox("升级包下载不完整，请稍后重试！", ports::MsgIcon::Error, "自动更新");
    Label2.Caption = "升级下载完成，正在升级...";
    return;
  }

  const std::string length = inet->GetHeader("Content-Length");
  if (length.empty())
    SupportLog::Write(pf_, "download " + txtUrl.Text + ": no package (no length)");
  if (!length.empty()) {
    std::string chunk = inet->GetChunk(kChunk);
    pf_.ui->DoEvents();
    if (pf_.io->AnsiToUtf8(chunk).find("无法找到网页") != std::string::npos) {
      SupportLog::Write(pf_, "download " + txtUrl.Text + ": the server's page-not-found text");
      pf_.ui->MsgBox("下载地址不正确!", ports::MsgIcon::None, "自动更新");
    } else {
      std::unique_ptr<ports::BinaryFile> file;
      std::int32_t announced = 0;
      std::int64_t written = 0;
      if (part) {
        kept.MoveTo(local);
        file = pf_.io->OpenAppend(local);
        announced = static_cast<std::int32_t>(part->length);
        written = part->received;
        ProgressBar1.Max = announced;
        ProgressBar1.Value = static_cast<int>(written);
      } else {
        file = pf_.io->OpenBinary(local);
        announced = ToLength(length);
        ProgressBar1.Max = announced;
      }
      try {
        for (;;) {
          file->Write(chunk);
          written += static_cast<std::int64_t>(chunk.size());
          chunk = inet->GetChunk(kChunk);
          pf_.ui->DoEvents();
          if (written >= announced) break;
          // The body ended short of its announced length: nothing more will come.
          if (chunk.empty()) break;
          ProgressBar1.Value = static_cast<int>(written);
        }
        // The file reports a full disk as late as here, when it writes what it still holds.
        file->Close();
      } catch (const RuntimeError& e) {
        // A disk that refuses the package leaves no half-written file behind either.
        Discard(*file, *pf_.io, local);
        SupportLog::Write(pf_, "download " + txtUrl.Text + ": " + Took(written, started) +
                                   ", failed and removed, " + SupportLog::Error(e));
        throw;
      }
      const std::string outcome =
          "download " + txtUrl.Text + ": " + Took(written, started) + " of " +
          std::to_string(announced) +
          (part ? ", continued from " + std::to_string(part->received) : "");
      if (written >= announced) SupportLog::Write(pf_, outcome + ", complete");
      if (written < announced) {
        // Never leave a truncated package for the installation to unpack; keep it aside for
        // the next try when the server can tell whether it is still the same package.
        const KeptPart received{txtUrl.Text, Text1.Text,
                                Text2.Text,  part ? part->validator : ValidatorOf(*inet),
                                announced,   written};
        const bool keptPart = kept.Keep(local, received);
        if (!keptPart) pf_.io->Kill(local);
        SupportLog::Write(pf_, outcome + (keptPart ? ", cut short, kept for the next try"
                                                   : ", cut short and removed"));
        pf_.ui->MsgBox("升级包下载不完整，请稍后重试！", ports::MsgIcon::Error, "自动更新");
      }
    }
  }
  Label2.Caption = "升级下载完成，正在升级...";
}

}  // namespace updater
