// The in-process server: the class factory and the Application object with
// its dual interface, late binding by name and dispatch id, the connection
// point that carries ThumbNav to the host's sinks, the server's object and
// lock counts, the predeclared instance and registration in the settings store.
//
// Everything runs on the host's user-interface thread; only the counts are
// atomic so that DllCanUnloadNow may be asked from anywhere.
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <new>
#include <optional>
#include <vector>

#include "component/com_internal.h"
#include "korvena/Application.h"
#include "korvena/RuntimeError.h"
#include "support/registry_store.h"

namespace korvena::com {

namespace {

std::atomic<long> gObjects{0};
std::atomic<long> gLocks{0};

// Keeps the library loaded while an object of it lives; declared first in
// each object so that it is released last.
struct Counted {
  Counted() { ++gObjects; }
  ~Counted() { --gObjects; }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;
};

// The error of the last failing call on this thread, for Invoke's
// exception information or for KorvenaGetErrorInfo.
struct ErrorRecord {
  HRESULT scode;
  std::string description;
};
thread_local std::optional<ErrorRecord> tLastError;

constexpr const char* kErrorSource = "Korvena";

// Runs a member and turns whatever it raises into a result: a runtime error
// becomes 0x800A0000 | number (or the number itself when it is that wide).
template <class F>
HRESULT guarded(F&& body) {
  tLastError.reset();
  try {
    body();
    return S_OK;
  } catch (const RuntimeError& e) {
    tLastError = ErrorRecord{hresultFromErrorNumber(e.number()), e.description()};
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    tLastError = ErrorRecord{E_FAIL, e.what()};
  } catch (...) {
    tLastError = ErrorRecord{E_UNEXPECTED, "Unexpected failure"};
  }
  return tLastError->scode;
}

void fillExcepInfo(EXCEPINFO* info, const ErrorRecord& error) {
  if (!info) return;
  *info = EXCEPINFO{};
  info->bstrSource = allocString(kErrorSource);
  info->bstrDescription = allocString(error.description);
  info->scode = error.scode;
}

// The members of _Application as late binding sees them.
struct Member {
  DISPID id;
  const char* name;
  const char* params[2];
  UINT count;     // parameters
  UINT required;  // leading parameters that may not be left out
};
constexpr Member kMembers[] = {
    {DISPID_ShowForm, "ShowForm", {}, 0, 0},
    {DISPID_FireEventThumbNav, "FireEventThumbNav", {"MoveDirection"}, 1, 1},
    {DISPID_FireEventNewWin, "FireEventNewWin", {"bVal"}, 1, 1},
    {DISPID_UnloadForm, "UnloadForm", {}, 0, 0},
    {DISPID_Style, "Style", {"Style"}, 1, 0},
    {DISPID_srcAppName, "srcAppName", {"sAppName"}, 1, 1},
    {DISPID_OpenImage, "OpenImage", {"FolderFile", "FileName"}, 2, 2},
};

bool sameName(const OLECHAR* name, const char* ascii) {
  const auto fold = [](char32_t c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
  for (; *ascii; ++name, ++ascii)
    if (*name == u'\0' || fold(*name) != fold(static_cast<unsigned char>(*ascii))) return false;
  return *name == u'\0';
}

const Member* memberById(DISPID id) {
  for (const Member& m : kMembers)
    if (m.id == id) return &m;
  return nullptr;
}

// The text of the optional Style argument; a value with no text form is
// error 13 raised by the member itself.
std::optional<std::string> styleText(const VARIANT& value) {
  if (isMissing(value)) return std::nullopt;
  std::string text;
  if (FAILED(coerceToText(value, text))) throw RuntimeError(err::TypeMismatch, "Type mismatch");
  return text;
}

VARIANT missingArgument() {
  VARIANT v{};
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}

class ApplicationObject;
ApplicationObject* gDefault = nullptr;  // the predeclared instance while it lives

// The connection point of the event interface __Application.
class ConnectionPoint final : public IConnectionPoint {
 public:
  explicit ConnectionPoint(ApplicationObject& owner) : owner_(owner) {}
  ~ConnectionPoint() {
    for (const Connection& c : sinks_) c.sink->Release();
  }
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  HRESULT QueryInterface(const IID& riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetConnectionInterface(IID* pIID) override {
    if (!pIID) return E_POINTER;
    *pIID = DIID_ApplicationEvents;
    return S_OK;
  }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
  HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override {
    if (!pUnkSink || !pdwCookie) return E_POINTER;
    *pdwCookie = 0;
    void* sink = nullptr;
    if (FAILED(pUnkSink->QueryInterface(DIID_ApplicationEvents, &sink)) || !sink) {
      sink = nullptr;
      if (FAILED(pUnkSink->QueryInterface(IID_IDispatch, &sink)) || !sink) return CONNECT_E_CANNOTCONNECT;
    }
    try {
      sinks_.push_back({nextCookie_, static_cast<IDispatch*>(sink)});
    } catch (const std::bad_alloc&) {
      static_cast<IDispatch*>(sink)->Release();
      return E_OUTOFMEMORY;
    }
    *pdwCookie = nextCookie_++;
    return S_OK;
  }
  HRESULT Unadvise(DWORD dwCookie) override {
    auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const Connection& c) { return c.cookie == dwCookie; });
    if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
    IDispatch* sink = it->sink;
    sinks_.erase(it);
    sink->Release();
    return S_OK;
  }
  HRESULT EnumConnections(IEnumConnections** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
  }

  // Raises ThumbNav on every sink in the order they were advised; they share
  // the by-reference flag, so a later sink sees what an earlier one left.
  void fire(uint8_t direction, bool& firstLast) {
    std::vector<Connection> sinks = sinks_;  // a sink may unadvise while it runs
    for (const Connection& c : sinks) c.sink->AddRef();
    VARIANT_BOOL flag = firstLast ? VARIANT_TRUE : VARIANT_FALSE;
    for (const Connection& c : sinks) {
      VARIANT args[2]{};
      args[1].vt = VT_UI1;
      args[1].bVal = direction;
      args[0].vt = VT_BYREF | VT_BOOL;
      args[0].pboolVal = &flag;
      DISPPARAMS params{args, nullptr, 2, 0};
      try {
        c.sink->Invoke(DISPID_ThumbNav, IID_NULL, 0x409, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
      } catch (...) {
        // The host's handler failed; the event goes on to the other sinks.
      }
    }
    for (const Connection& c : sinks) c.sink->Release();
    firstLast = flag != VARIANT_FALSE;
  }

 private:
  struct Connection {
    DWORD cookie;
    IDispatch* sink;
  };
  ApplicationObject& owner_;
  std::vector<Connection> sinks_;
  DWORD nextCookie_ = 1;
};

class ApplicationObject final : public IApplication, public IConnectionPointContainer {
 public:
  ApplicationObject() : point_(*this) {
    app_.setThumbNavHandler([this](uint8_t direction, bool& firstLast) {
      // The host may release this object from inside its handler.
      AddRef();
      point_.fire(direction, firstLast);
      Release();
    });
  }
  ~ApplicationObject() {
    if (gDefault == this) gDefault = nullptr;
  }
  ApplicationObject(const ApplicationObject&) = delete;
  ApplicationObject& operator=(const ApplicationObject&) = delete;

  // IUnknown
  HRESULT QueryInterface(const IID& riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_Application) {
      *ppv = static_cast<IApplication*>(this);
    } else if (riid == IID_IConnectionPointContainer) {
      *ppv = static_cast<IConnectionPointContainer*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // IDispatch: no type information is served; names map to ids directly.
  HRESULT GetTypeInfoCount(UINT* pctinfo) override {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {
    if (ppTInfo) *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT GetIDsOfNames(const IID& riid, OLECHAR** rgszNames, UINT cNames, LCID, DISPID* rgDispId) override {
    if (!(riid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!rgszNames || !rgDispId) return E_POINTER;
    if (cNames == 0) return E_INVALIDARG;
    std::fill(rgDispId, rgDispId + cNames, DISPID_UNKNOWN);
    const Member* member = nullptr;
    if (rgszNames[0])
      for (const Member& m : kMembers)
        if (sameName(rgszNames[0], m.name)) member = &m;
    if (!member) return DISP_E_UNKNOWNNAME;
    rgDispId[0] = member->id;
    HRESULT hr = S_OK;
    // Further names are parameter names; their ids are their positions.
    for (UINT i = 1; i < cNames; ++i) {
      for (UINT p = 0; p < member->count; ++p)
        if (rgszNames[i] && sameName(rgszNames[i], member->params[p])) rgDispId[i] = static_cast<DISPID>(p);
      if (rgDispId[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT Invoke(DISPID dispIdMember, const IID& riid, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                 VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

  // _Application
  HRESULT ShowForm() override {
    return guarded([&] { app_.ShowForm(); });
  }
  HRESULT FireEventThumbNav(uint8_t MoveDirection, VARIANT_BOOL* pResult) override {
    if (!pResult) return E_POINTER;
    bool result = false;
    const HRESULT hr = guarded([&] { result = app_.FireEventThumbNav(MoveDirection); });
    *pResult = result ? VARIANT_TRUE : VARIANT_FALSE;
    return hr;
  }
  HRESULT FireEventNewWin(VARIANT_BOOL bVal) override {
    return guarded([&] { app_.FireEventNewWin(bVal != VARIANT_FALSE); });
  }
  HRESULT UnloadForm() override {
    return guarded([&] { app_.UnloadForm(); });
  }
  HRESULT Style(VARIANT value) override {
    return guarded([&] { app_.Style(styleText(value)); });
  }
  HRESULT srcAppName(BSTR sAppName) override {
    return guarded([&] { app_.srcAppName(toUtf8(sAppName)); });
  }
  HRESULT OpenImage(BSTR FolderFile, BSTR FileName) override {
    return guarded([&] { app_.OpenImage(toUtf8(FolderFile), toUtf8(FileName)); });
  }

  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
  }
  HRESULT FindConnectionPoint(const IID& riid, IConnectionPoint** ppCP) override {
    if (!ppCP) return E_POINTER;
    if (!(riid == DIID_ApplicationEvents)) {
      *ppCP = nullptr;
      return CONNECT_E_NOCONNECTION;
    }
    point_.AddRef();
    *ppCP = &point_;
    return S_OK;
  }

 private:
  Counted counted_;
  std::atomic<ULONG> refs_{1};
  ConnectionPoint point_;
  Application app_;  // after the point: destroyed first, so no event can reach a dead point
};

HRESULT ConnectionPoint::QueryInterface(const IID& riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (!(riid == IID_IUnknown || riid == IID_IConnectionPoint)) {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  *ppv = static_cast<IConnectionPoint*>(this);
  return S_OK;
}
ULONG ConnectionPoint::AddRef() { return owner_.AddRef(); }
ULONG ConnectionPoint::Release() { return owner_.Release(); }
HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
  if (!ppCPC) return E_POINTER;
  return owner_.QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(ppCPC));
}

HRESULT ApplicationObject::Invoke(DISPID dispIdMember, const IID& riid, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                                  VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  if (!(riid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const Member* member = memberById(dispIdMember);
  if (!member) return DISP_E_MEMBERNOTFOUND;
  // Every member is a method; a property get of one is how some hosts call it.
  if (!(wFlags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  const DISPPARAMS& dp = pDispParams ? *pDispParams : none;
  if ((dp.cArgs > 0 && !dp.rgvarg) || dp.cNamedArgs > dp.cArgs || (dp.cNamedArgs > 0 && !dp.rgdispidNamedArgs))
    return E_INVALIDARG;

  // Arguments by parameter position, and where each sits in rgvarg.
  const VARIANT* args[2]{};
  UINT where[2]{};
  const UINT positional = dp.cArgs - dp.cNamedArgs;
  if (positional > member->count) return DISP_E_BADPARAMCOUNT;
  for (UINT i = 0; i < positional; ++i) {
    where[i] = dp.cArgs - 1 - i;
    args[i] = &dp.rgvarg[where[i]];
  }
  for (UINT j = 0; j < dp.cNamedArgs; ++j) {
    const DISPID p = dp.rgdispidNamedArgs[j];
    if (p < 0 || static_cast<UINT>(p) >= member->count || args[p]) {
      if (puArgErr) *puArgErr = j;
      return DISP_E_PARAMNOTFOUND;
    }
    where[p] = j;
    args[p] = &dp.rgvarg[j];
  }
  for (UINT p = 0; p < member->required; ++p) {
    if (!args[p]) return dp.cNamedArgs ? DISP_E_PARAMNOTOPTIONAL : DISP_E_BADPARAMCOUNT;
    if (isMissing(*args[p])) {
      if (puArgErr) *puArgErr = where[p];
      return DISP_E_PARAMNOTOPTIONAL;
    }
  }
  const auto badArgument = [&](UINT p, HRESULT hr) {
    if (puArgErr) *puArgErr = where[p];
    return hr;
  };

  if (pVarResult) *pVarResult = VARIANT{};
  HRESULT hr = S_OK;
  switch (member->id) {
    case DISPID_ShowForm:
      hr = ShowForm();
      break;
    case DISPID_FireEventThumbNav: {
      uint8_t direction = 0;
      if (HRESULT c = coerceToByte(*args[0], direction); FAILED(c)) return badArgument(0, c);
      VARIANT_BOOL result = VARIANT_FALSE;
      hr = FireEventThumbNav(direction, &result);
      if (SUCCEEDED(hr) && pVarResult) {
        pVarResult->vt = VT_BOOL;
        pVarResult->boolVal = result;
      }
      break;
    }
    case DISPID_FireEventNewWin: {
      bool value = false;
      if (HRESULT c = coerceToBool(*args[0], value); FAILED(c)) return badArgument(0, c);
      hr = FireEventNewWin(value ? VARIANT_TRUE : VARIANT_FALSE);
      break;
    }
    case DISPID_UnloadForm:
      hr = UnloadForm();
      break;
    case DISPID_Style:
      hr = Style(args[0] ? *args[0] : missingArgument());
      break;
    case DISPID_srcAppName: {
      std::string name;
      if (HRESULT c = coerceToText(*args[0], name); FAILED(c)) return badArgument(0, c);
      hr = guarded([&] { app_.srcAppName(name); });
      break;
    }
    case DISPID_OpenImage: {
      std::string folderFile, fileName;
      if (HRESULT c = coerceToText(*args[0], folderFile); FAILED(c)) return badArgument(0, c);
      if (HRESULT c = coerceToText(*args[1], fileName); FAILED(c)) return badArgument(1, c);
      hr = guarded([&] { app_.OpenImage(folderFile, fileName); });
      break;
    }
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
  if (FAILED(hr) && tLastError) {
    fillExcepInfo(pExcepInfo, *tLastError);
    tLastError.reset();
    return DISP_E_EXCEPTION;
  }
  return hr;
}

class ClassFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(const IID& riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (!(riid == IID_IUnknown || riid == IID_IClassFactory)) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT CreateInstance(IUnknown* pUnkOuter, const IID& riid, void** ppvObject) override;
  HRESULT LockServer(BOOL fLock) override {
    if (fLock) {
      ++gLocks;
    } else {
      long locks = gLocks.load();
      while (locks > 0 && !gLocks.compare_exchange_weak(locks, locks - 1)) {
      }
    }
    return S_OK;
  }

 private:
  Counted counted_;
  std::atomic<ULONG> refs_{1};
};

// A new object handed out by the interface asked for; null and the failure otherwise.
HRESULT newObject(const IID& riid, void** ppv, ApplicationObject** created) {
  ApplicationObject* object = nullptr;
  try {
    object = new ApplicationObject();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
  if (created) *created = object;
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();  // gone again when the interface was not there
  return hr;
}

HRESULT ClassFactory::CreateInstance(IUnknown* pUnkOuter, const IID& riid, void** ppvObject) {
  if (!ppvObject) return E_POINTER;
  *ppvObject = nullptr;
  if (pUnkOuter) return CLASS_E_NOAGGREGATION;
  return newObject(riid, ppvObject, nullptr);
}

// Registration. The class and its type library live in the type library's
// own file, the library itself.
const int kAnchor = 0;

std::string libraryPath() {
  Dl_info info{};
  if (dladdr(&kAnchor, &info) == 0 || !info.dli_fname || !*info.dli_fname) return {};
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::absolute(info.dli_fname, ec);
  return ec ? std::string(info.dli_fname) : path.lexically_normal().string();
}

const std::string kClasses = "SOFTWARE\\Classes\\";

struct RegistryEntry {
  std::string key;
  std::string name;  // "" is the key's default value
  std::optional<std::string> value;  // none: the key only
};

std::vector<std::string> registeredKeys() {
  return {kClasses + "CLSID\\" + toString(CLSID_Application), kClasses + kProgID,
          kClasses + "TypeLib\\" + toString(LIBID_Korvena), kClasses + "Interface\\" + toString(IID_Application),
          kClasses + "Interface\\" + toString(DIID_ApplicationEvents)};
}

std::vector<RegistryEntry> registryEntries(const std::string& path) {
  const std::string clsid = toString(CLSID_Application), libid = toString(LIBID_Korvena);
  const std::string classKey = kClasses + "CLSID\\" + clsid, libKey = kClasses + "TypeLib\\" + libid + "\\1.0";
  const std::string folder = std::filesystem::path(path).parent_path().string();
  std::vector<RegistryEntry> entries = {
      {classKey, "", kProgID},
      {classKey + "\\InprocServer32", "", path},
      {classKey + "\\InprocServer32", "ThreadingModel", "Apartment"},
      {classKey + "\\ProgID", "", kProgID},
      {classKey + "\\VERSION", "", "1.0"},
      {classKey + "\\TypeLib", "", libid},
      {classKey + "\\Programmable", "", std::nullopt},
      {kClasses + kProgID, "", kProgID},
      {kClasses + kProgID + "\\Clsid", "", clsid},
      {libKey, "", "Korvena"},
      {libKey + "\\FLAGS", "", "0"},
      {libKey + "\\HELPDIR", "", folder},
      {libKey + "\\409\\" + (sizeof(void*) == 8 ? "win64" : "win32"), "", path},
  };
  const std::pair<GUID, const char*> interfaces[] = {{IID_Application, "_Application"},
                                                     {DIID_ApplicationEvents, "__Application"}};
  for (const auto& [iid, name] : interfaces) {
    const std::string key = kClasses + "Interface\\" + toString(iid);
    entries.push_back({key, "", name});
    // The automation marshaller: the interfaces are described by the type library.
    entries.push_back({key + "\\ProxyStubClsid32", "", "{00020424-0000-0000-C000-000000000046}"});
    entries.push_back({key + "\\TypeLib", "", libid});
    entries.push_back({key + "\\TypeLib", "Version", "1.0"});
  }
  return entries;
}

template <class F>
HRESULT storeCall(F&& body) {
  tLastError.reset();
  try {
    body();
    return S_OK;
  } catch (const reg::Error& e) {
    tLastError = ErrorRecord{hresultFromWin32(e.code()), e.what()};
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    tLastError = ErrorRecord{E_FAIL, e.what()};
  }
  return tLastError->scode;
}

}  // namespace

}  // namespace korvena::com

using namespace korvena::com;
namespace reg = korvena::reg;

extern "C" {

HRESULT DllGetClassObject(const CLSID& rclsid, const IID& riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(rclsid == CLSID_Application)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) ClassFactory();
  if (!factory) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

HRESULT DllCanUnloadNow() { return gObjects.load() == 0 && gLocks.load() == 0 ? S_OK : S_FALSE; }

HRESULT DllRegisterServer() {
  const std::string path = libraryPath();
  if (path.empty()) return E_UNEXPECTED;
  return storeCall([&] {
    reg::Store store = reg::defaultStore();
    for (const RegistryEntry& e : registryEntries(path)) {
      if (e.value)
        store.setValue(e.key, e.name, reg::Value::sz(*e.value));
      else
        store.createKey(e.key);
    }
  });
}

HRESULT DllUnregisterServer() {
  return storeCall([] {
    reg::Store store = reg::defaultStore();
    for (const std::string& key : registeredKeys()) store.deleteTree(key);
  });
}

HRESULT KorvenaGetApplicationObject(const IID& riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (gDefault) return gDefault->QueryInterface(riid, ppv);
  ApplicationObject* created = nullptr;
  const HRESULT hr = newObject(riid, ppv, &created);
  if (SUCCEEDED(hr)) gDefault = created;
  return hr;
}

HRESULT KorvenaGetErrorInfo(EXCEPINFO* info) {
  if (!info) return E_POINTER;
  *info = EXCEPINFO{};
  if (!tLastError) return S_FALSE;
  fillExcepInfo(info, *tLastError);
  tLastError.reset();
  return S_OK;
}

}  // extern "C"
