// Built with -fpermissive (CMakeLists.txt): MinGW's adoint.h holds declarations that declare
// nothing ("Connection;"), which C++ otherwise rejects.
#include "backends/win32/database.h"

#include "backends/win32/windows_api.h"
// windows.h is included lean; ADO needs OLE automation.
#include <ole2.h>
#include <oleauto.h>
//
#include <adoint.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <initializer_list>
#include <string>
#include <utility>

#include "backends/common/ado_errors.h"
#include "backends/win32/ansi.h"
#include "ports/errors.h"

namespace updater::win32 {

namespace {

// The interface ids of ADO 2.0 to 2.5. MinGW's adoint.h declares the ids that ADO took with
// Windows 7 SP1 (KB983246: 000015xx for Connection, Recordset, Command), which ADO before that
// and wine's ADO do not answer; every later ADO still answers the old ones. For the 32-bit
// program the vtables are the same, so the declarations of adoint.h serve for both. The ids
// differ only in their first field.
constexpr IID AdoIid(unsigned long first) {
  return {first, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
}
constexpr IID kIidConnection15 = AdoIid(0x00000515);
constexpr IID kIidConnection = AdoIid(0x00000550);
constexpr IID kIidRecordset15 = AdoIid(0x0000050E);
constexpr IID kIidRecordset20 = AdoIid(0x0000054F);
constexpr IID kIidRecordset = AdoIid(0x00000556);
constexpr IID kIidCommand15 = AdoIid(0x00000508);
constexpr IID kIidCommand25 = AdoIid(0x0000054E);

constexpr long kAdVarWChar = 202;
constexpr long kAdParamInput = 1;
constexpr long kAdCmdText = 1;
constexpr long kAdExecuteNoRecords = 0x80;

// An owned interface pointer.
template <class T>
class Com {
 public:
  Com() = default;
  ~Com() { Reset(); }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  Com(Com&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Com& operator=(Com&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  T** out() {
    Reset();
    return &p_;
  }
  explicit operator bool() const { return p_ != nullptr; }
  void Reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  explicit Bstr(const std::string& utf8) {
    const std::wstring wide = Utf8ToWide(utf8);
    b_ = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }

 private:
  BSTR b_ = nullptr;
};

class Variant {
 public:
  Variant() { VariantInit(&v_); }
  ~Variant() { VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT& get() { return v_; }

  static Variant Text(const std::string& utf8) {
    Variant v;
    const std::wstring wide = Utf8ToWide(utf8);
    v.v_.vt = VT_BSTR;
    v.v_.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return v;
  }
  // An optional argument left out.
  static Variant Missing() {
    Variant v;
    v.v_.vt = VT_ERROR;
    v.v_.scode = DISP_E_PARAMNOTFOUND;
    return v;
  }
  Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }

 private:
  VARIANT v_;
};

std::string FromBstr(BSTR b) {
  return b != nullptr ? WideToUtf8(std::wstring_view(b, SysStringLen(b))) : std::string();
}

// The number a VB program reports for hr: ADO's own errors (FACILITY_CONTROL) by their short
// number, everything else as the HRESULT.
int ErrorNumber(HRESULT hr) {
  const auto code = static_cast<std::uint32_t>(hr);
  if ((code & 0xFFFF0000u) == 0x800A0000u) return static_cast<int>(code & 0xFFFFu);
  return static_cast<int>(hr);
}

std::string SystemMessage(HRESULT hr) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer != nullptr ? buffer : L"", n);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.pop_back();
  }
  return WideToUtf8(text);
}

// Throws for a failed hr. An ADO call leaves its description behind (IErrorInfo); otherwise
// ADO's words for its own errors, the system's text for hr, or the bare number. askObject is
// false for calls that are not ADO's own (COM, interface queries), which set no error info, so
// that a description left by an earlier call is never reported for them.
void Check(HRESULT hr, const char* what, bool askObject = true) {
  if (SUCCEEDED(hr)) return;
  std::string description;
  Com<IErrorInfo> info;
  // GetErrorInfo also clears what it returns, so a stale description is dropped either way.
  if (GetErrorInfo(0, info.out()) == S_OK && info && askObject) {
    BSTR text = nullptr;
    if (SUCCEEDED(info->GetDescription(&text))) description = FromBstr(text);
    SysFreeString(text);
  }
  const int number = ErrorNumber(hr);
  if (description.empty() && ado::ErrorText(number) != nullptr)
    description = ado::ErrorText(number);
  if (description.empty()) description = SystemMessage(hr);
  if (description.empty()) {
    wchar_t number[16];
    std::swprintf(number, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    description = std::string(what) + " failed (" + WideToUtf8(number) + ")";
  }
  throw RuntimeError(number, description);
}

// COM is started once on each thread that uses the database and kept for the thread's life.
void StartCom() {
  static thread_local bool started = false;
  if (started) return;
  const HRESULT hr = CoInitialize(nullptr);
  // S_FALSE: already started; RPC_E_CHANGED_MODE: started by others in another model. Both
  // leave COM usable.
  if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) Check(hr, "CoInitialize", false);
  started = true;
}

// An object of the class named progId, asked for the first of iids it answers. Failing to get
// one is what Basic reports as "ActiveX component can't create object", whatever COM said.
template <class T>
Com<T> Create(const wchar_t* progId, std::initializer_list<IID> iids) {
  StartCom();
  CLSID clsid;
  Com<IUnknown> unknown;
  if (SUCCEEDED(CLSIDFromProgID(progId, &clsid)) &&
      SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                 reinterpret_cast<void**>(unknown.out())))) {
    Com<T> object;
    for (const IID& iid : iids) {
      if (SUCCEEDED(unknown->QueryInterface(iid, reinterpret_cast<void**>(object.out()))))
        return object;
    }
  }
  throw RuntimeError(kErrCannotCreateObject);
}

class AdoRecordset final : public ports::Recordset {
 public:
  explicit AdoRecordset(Com<Recordset15> rs) : rs_(std::move(rs)) {}

  void SetCursorLocation(int location) override {
    Check(rs_->put_CursorLocation(static_cast<CursorLocationEnum>(location)), "CursorLocation");
  }
  void SetCursorType(int type) override {
    Check(rs_->put_CursorType(static_cast<CursorTypeEnum>(type)), "CursorType");
  }
  void SetLockType(int type) override {
    Check(rs_->put_LockType(static_cast<LockTypeEnum>(type)), "LockType");
  }

  void Open(const std::string& source) override {
    // The connection, cursor type, lock type and options are left to the settings made before.
    Variant sql = Variant::Text(source);
    Variant connection = Variant::Missing();
    Check(rs_->Open(sql.get(), connection.get(), adOpenUnspecified, adLockUnspecified,
                    adCmdUnspecified),
          "Recordset.Open");
  }

  bool IsEOF() override {
    VARIANT_BOOL eof = VARIANT_FALSE;
    Check(rs_->get_EOF(&eof), "Recordset.EOF");
    return eof != VARIANT_FALSE;
  }

  std::string Field(const std::string& name) override {
    Variant value;
    Check(Item(name)->get_Value(&value.get()), "Field.Value");
    if (value.get().vt == VT_NULL || value.get().vt == VT_EMPTY) return {};
    // As Basic converts a value to text: a Boolean reads "True" or "False", not "-1" or "0".
    Variant text;
    if (FAILED(VariantChangeTypeEx(&text.get(), &value.get(), LOCALE_USER_DEFAULT,
                                   VARIANT_ALPHABOOL, VT_BSTR))) {
      throw RuntimeError(kErrTypeMismatch);
    }
    return FromBstr(text.get().bstrVal);
  }

  void SetField(const std::string& name, const std::string& value) override {
    Variant v = Variant::Text(value);
    Check(Item(name)->put_Value(v.get()), "Field.Value");
  }

  void SetFieldDate(const std::string& name, const ports::DateTime& value) override {
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(value.year);
    st.wMonth = static_cast<WORD>(value.month);
    st.wDay = static_cast<WORD>(value.day);
    st.wHour = static_cast<WORD>(value.hour);
    st.wMinute = static_cast<WORD>(value.minute);
    st.wSecond = static_cast<WORD>(value.second);
    Variant v;
    if (!SystemTimeToVariantTime(&st, &v.get().date)) {
      throw RuntimeError(kErrInvalidCall);
    }
    v.get().vt = VT_DATE;
    Check(Item(name)->put_Value(v.get()), "Field.Value");
  }

  void AddNew() override {
    Variant fields = Variant::Missing();
    Variant values = Variant::Missing();
    Check(rs_->AddNew(fields.get(), values.get()), "Recordset.AddNew");
  }
  void Update() override {
    Variant fields = Variant::Missing();
    Variant values = Variant::Missing();
    Check(rs_->Update(fields.get(), values.get()), "Recordset.Update");
  }
  void MoveNext() override { Check(rs_->MoveNext(), "Recordset.MoveNext"); }
  void Close() override { Check(rs_->Close(), "Recordset.Close"); }

 private:
  Com<ADOField> Item(const std::string& name) {
    Com<ADOFields> fields;
    Check(rs_->get_Fields(fields.out()), "Recordset.Fields");
    Variant index = Variant::Text(name);
    Com<ADOField> field;
    Check(fields->get_Item(index.get(), field.out()), "Fields.Item");
    return field;
  }

  Com<Recordset15> rs_;
};

class AdoConnection final : public ports::Connection {
 public:
  AdoConnection()
      : conn_(Create<Connection15>(L"ADODB.Connection", {kIidConnection, kIidConnection15})) {}

  void Open(const std::string& connectionString, const std::string& user,
            const std::string& password, int options) override {
    const Bstr cs(connectionString), u(user), p(password);
    Check(conn_->Open(cs.get(), u.get(), p.get(), options), "Connection.Open");
  }

  std::unique_ptr<ports::Recordset> NewRecordset() override {
    auto rs =
        Create<Recordset15>(L"ADODB.Recordset", {kIidRecordset, kIidRecordset20, kIidRecordset15});
    Check(rs->putref_ActiveConnection(conn_.get()), "Recordset.ActiveConnection");
    return std::make_unique<AdoRecordset>(std::move(rs));
  }

  // Through a command, so that each value is a parameter and never part of the statement text.
  void Execute(const std::string& sql, const std::vector<std::string>& parameters, int) override {
    auto command = Create<Command15>(L"ADODB.Command", {kIidCommand25, kIidCommand15});
    Com<_ADOConnection> connection;
    Check(conn_->QueryInterface(kIidConnection, reinterpret_cast<void**>(connection.out())),
          "QueryInterface", false);
    Check(command->putref_ActiveConnection(connection.get()), "Command.ActiveConnection");
    const Bstr text(sql);
    Check(command->put_CommandText(text.get()), "Command.CommandText");
    Check(command->put_CommandType(adCmdText), "Command.CommandType");
    if (!parameters.empty()) {
      Com<ADOParameters> list;
      Check(command->get_Parameters(list.out()), "Command.Parameters");
      for (const std::string& value : parameters) {
        const Bstr name("");
        Variant v = Variant::Text(value);
        // A zero size is refused for a variable-length type.
        const auto size =
            std::max<ADO_LONGPTR>(1, static_cast<ADO_LONGPTR>(SysStringLen(v.get().bstrVal)));
        Com<_ADOParameter> parameter;
        Check(command->CreateParameter(name.get(), static_cast<DataTypeEnum>(kAdVarWChar),
                                       static_cast<ParameterDirectionEnum>(kAdParamInput), size,
                                       v.get(), parameter.out()),
              "Command.CreateParameter");
        Check(list->Append(parameter.get()), "Parameters.Append");
      }
    }
    Variant noParameters = Variant::Missing();
    Com<_ADORecordset> none;
    Check(command->Execute(nullptr, &noParameters.get(), kAdCmdText | kAdExecuteNoRecords,
                           none.out()),
          "Command.Execute");
  }

  void Close() override { Check(conn_->Close(), "Connection.Close"); }

 private:
  Com<Connection15> conn_;
};

}  // namespace

std::unique_ptr<ports::Connection> AdoDatabase::NewConnection() {
  return std::make_unique<AdoConnection>();
}

}  // namespace updater::win32
