#pragma once
// The errors of the local database as ADO reports them: the numbers a VB program sees and ADO's
// own words for its own errors, so that a report reads the same on both backends.

namespace updater::ado {

enum ErrorNumber : int {
  kGeneric = -2147467259,             // E_FAIL: cannot open, locked, unrecognised format
  kSyntax = -2147217900,              // syntax error in the statement
  kMissingTable = -2147217865,        // cannot find the input table
  kMissingColumn = -2147217904,       // an unknown name in the statement
  kIntegrity = -2147217873,           // a constraint refused the row
  kClassNotRegistered = -2147221005,  // CO_E_CLASSSTRING: e.g. the provider is not installed
  kNoCurrentRecord = 3021,            // BOF or EOF
  kNotAllowedInContext = 3219,        // e.g. closing while a row is being edited
  kNotUpdatable = 3251,               // the recordset cannot write back
  kItemNotFound = 3265,               // no field of that name
  kObjectClosed = 3704,               // using what is closed
  kObjectOpen = 3705,                 // opening what is open
  kProviderNotFound = 3706,           // the provider named in the connection string is missing
  kConnectionUnusable = 3709,         // the connection is not open
};

// ADO's text for one of its own errors (the short numbers above); nullptr for others.
inline const char* ErrorText(int number) {
  switch (number) {
    case kNoCurrentRecord:
      return "Either BOF or EOF is True, or the current record has been deleted. Requested "
             "operation requires a current record.";
    case kNotAllowedInContext:
      return "Operation is not allowed in this context.";
    case kNotUpdatable:
      return "Current Recordset does not support updating. This may be a limitation of the "
             "provider, or of the selected locktype.";
    case kItemNotFound:
      return "Item cannot be found in the collection corresponding to the requested name or "
             "ordinal.";
    case kObjectClosed:
      return "Operation is not allowed when the object is closed.";
    case kObjectOpen:
      return "Operation is not allowed when the object is open.";
    case kProviderNotFound:
    case kClassNotRegistered:
      return "Provider cannot be found. It may not be properly installed.";
    case kConnectionUnusable:
      return "The connection cannot be used to perform this operation. It is either closed or "
             "invalid in this context.";
    default:
      return nullptr;
  }
}

}  // namespace updater::ado
