// The in-process server: the class factory and the Application object with
// its dual interface, late binding by name and dispatch id, the connection
// point that carries ThumbNav to the host's sinks, the server's object and
// lock counts, the predeclared instance and registration in the settings store.
//
// Threads: the server is single-threaded (its registration names no threading
// model). The component's windows and their state belong to one thread at a
// time: the thread whose objects or windows are alive now, and under the Qt
// platform always the GUI thread. An object answers RPC_E_WRONG_THREAD to a
// call from any thread but the one that made it, and no object is made on
// another thread until nothing of the component is alive there. Every call
// into the component also holds one lock, so that what the rules cannot refuse
// (a last Release from another thread) never overlaps another thread's call.
#include <dlfcn.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <new>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "component/com_internal.h"
#include "kit/platform.h"
#include "korvena/Application.h"
#include "korvena/Platform.h"
#include "korvena/RuntimeError.h"
#include "store/registry_store.h"

namespace korvena::com {

namespace {

std::atomic<long> gObjects{0};       // every object of the server: the library stays loaded
std::atomic<long> gApplications{0};  // Application objects: the component is in use
std::atomic<long> gLocks{0};

std::recursive_mutex gComponent;  // held by every call into the component
std::thread::id gOwner;           // the component's thread; guarded by gComponent

// Keeps the library loaded while an object of it lives; declared first in
// each object so that it is released last.
struct Counted {
  Counted() { ++gObjects; }
  ~Counted() { --gObjects; }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;
};

bool onQtPlatform() { return CurrentPlatform() == Platform::Qt && QCoreApplication::instance(); }

// Whether anything of the component lives: an object or a loaded window.
// Called with gComponent held.
bool componentInUse() { return gApplications.load() > 0 || !kit::platform().forms().empty(); }

// Whether the calling thread may use the component, taking it when no other
// thread has anything of it alive. Called with gComponent held.
bool claimComponent() {
  if (onQtPlatform()) return QThread::currentThread() == QCoreApplication::instance()->thread();
  const std::thread::id me = std::this_thread::get_id();
  if (gOwner == me) return true;
  if (gOwner != std::thread::id() && componentInUse()) return false;
  gOwner = me;
  return true;
}

// Calls on objects the host made (sinks). They may be written in C or any
// other language: their vtables have the slots of the interface but no C++
// type information, which the sanitizer's dynamic-type check would refuse.
#define KORVENA_FOREIGN __attribute__((no_sanitize("vptr")))
KORVENA_FOREIGN HRESULT foreignQueryInterface(void* object, const IID& iid, void** out) {
  return static_cast<IUnknown*>(object)->QueryInterface(iid, out);
}
KORVENA_FOREIGN ULONG foreignAddRef(void* object) { return static_cast<IUnknown*>(object)->AddRef(); }
KORVENA_FOREIGN ULONG foreignRelease(void* object) { return static_cast<IUnknown*>(object)->Release(); }
KORVENA_FOREIGN HRESULT foreignInvoke(void* object, DISPID id, DISPPARAMS* params) {
  return static_cast<IDispatch*>(object)->Invoke(id, IID_NULL, 0x409, DISPATCH_METHOD, params, nullptr, nullptr,
                                                 nullptr);
}

// The error of the last failing call on this thread, for Invoke's exception
// information or for KorvenaGetErrorInfo. Plain data: a thread-local with a
// destructor would keep the library loaded as long as the thread lives.
struct ErrorRecord {
  bool set;
  HRESULT scode;
  char description[512];
};
thread_local ErrorRecord tLastError{};

void recordError(HRESULT scode, const std::string& description) {
  tLastError.set = true;
  tLastError.scode = scode;
  size_t length = std::min(description.size(), sizeof tLastError.description - 1);
  // Cut at a character boundary.
  while (length > 0 && length < description.size() && (static_cast<unsigned char>(description[length]) & 0xC0) == 0x80)
    --length;
  std::memcpy(tLastError.description, description.data(), length);
  tLastError.description[length] = '\0';
}

constexpr const char* kErrorSource = "Korvena";

// Runs a member and turns whatever it raises into a result: a runtime error
// becomes 0x800A0000 | number (or the number itself when it is that wide).
template <class F>
HRESULT guarded(F&& body) {
  tLastError.set = false;
  try {
    body();
    return S_OK;
  } catch (const RuntimeError& e) {
    recordError(hresultFromErrorNumber(e.number()), e.description());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    recordError(E_FAIL, e.what());
  } catch (...) {
    recordError(E_UNEXPECTED, "Unexpected failure");
  }
  return tLastError.scode;
}

// Hands the recorded error over into *info (once).
void takeError(EXCEPINFO* info) {
  if (info) {
    *info = EXCEPINFO{};
    info->bstrSource = allocString(kErrorSource);
    info->bstrDescription = allocString(tLastError.description);
    info->scode = tLastError.scode;
  }
  tLastError.set = false;
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

// The arguments of one call by parameter position (null where left out), and
// where each sits in rgvarg.
struct BoundArguments {
  const VARIANT* args[2]{};
  UINT where[2]{};
};

// Binds a call's positional, then named arguments to the member's parameters,
// and checks that every required one is there. S_OK, or the failure (with
// *puArgErr naming the argument where one is to blame).
HRESULT bindArguments(const Member& member, const DISPPARAMS& dp, BoundArguments& bound, UINT* puArgErr) {
  if ((dp.cArgs > 0 && !dp.rgvarg) || dp.cNamedArgs > dp.cArgs || (dp.cNamedArgs > 0 && !dp.rgdispidNamedArgs))
    return E_INVALIDARG;
  const VARIANT** args = bound.args;
  UINT* where = bound.where;
  const UINT positional = dp.cArgs - dp.cNamedArgs;
  if (positional > member.count) return DISP_E_BADPARAMCOUNT;
  for (UINT i = 0; i < positional; ++i) {
    where[i] = dp.cArgs - 1 - i;
    args[i] = &dp.rgvarg[where[i]];
  }
  for (UINT j = 0; j < dp.cNamedArgs; ++j) {
    const DISPID p = dp.rgdispidNamedArgs[j];
    if (p < 0 || static_cast<UINT>(p) >= member.count || args[p]) {
      if (puArgErr) *puArgErr = j;
      return DISP_E_PARAMNOTFOUND;
    }
    where[p] = j;
    args[p] = &dp.rgvarg[j];
  }
  for (UINT p = 0; p < member.required; ++p) {
    if (!args[p]) return dp.cNamedArgs ? DISP_E_PARAMNOTOPTIONAL : DISP_E_BADPARAMCOUNT;
    if (isMissing(*args[p])) {
      if (puArgErr) *puArgErr = where[p];
      return DISP_E_PARAMNOTOPTIONAL;
    }
  }
  return S_OK;
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

// IUnknown of an object that serves one interface: counted references, the
// object deleted at its last Release. The interface's own vtable is kept.
template <class Interface>
class OneInterface : public Interface {
 public:
  explicit OneInterface(const IID& iid) : iid_(iid) {}
  OneInterface(const OneInterface&) = delete;
  OneInterface& operator=(const OneInterface&) = delete;

  HRESULT QueryInterface(const IID& riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (!(riid == IID_IUnknown || riid == iid_)) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *ppv = static_cast<Interface*>(this);
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~OneInterface() = default;

 private:
  const IID& iid_;
  std::atomic<ULONG> refs_{1};
};

// The connection point of the event interface __Application.
class ConnectionPoint final : public IConnectionPoint {
 public:
  explicit ConnectionPoint(ApplicationObject& owner) : owner_(owner) {}
  ~ConnectionPoint() {
    for (const Connection& c : sinks_) foreignRelease(c.sink);
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
  HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
  HRESULT Unadvise(DWORD dwCookie) override;
  HRESULT EnumConnections(IEnumConnections** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
  }

  // Raises ThumbNav on every sink in the order they were advised; they share
  // the by-reference flag, so a later sink sees what an earlier one left.
  void fire(uint8_t direction, bool& firstLast) {
    std::vector<Connection> sinks = sinks_;  // a sink may unadvise while it runs
    for (const Connection& c : sinks) foreignAddRef(c.sink);
    VARIANT_BOOL flag = firstLast ? VARIANT_TRUE : VARIANT_FALSE;
    for (const Connection& c : sinks) {
      VARIANT args[2]{};
      args[1].vt = VT_UI1;
      args[1].bVal = direction;
      args[0].vt = VT_BYREF | VT_BOOL;
      args[0].pboolVal = &flag;
      DISPPARAMS params{args, nullptr, 2, 0};
      try {
        foreignInvoke(c.sink, DISPID_ThumbNav, &params);
      } catch (...) {
        // The host's handler failed; the event goes on to the other sinks.
      }
    }
    for (const Connection& c : sinks) foreignRelease(c.sink);
    firstLast = flag != VARIANT_FALSE;
  }

 private:
  struct Connection {
    DWORD cookie;
    void* sink;  // the host's IDispatch
  };
  ApplicationObject& owner_;
  std::vector<Connection> sinks_;
  DWORD nextCookie_ = 1;
};

class ApplicationObject final : public IApplication, public IConnectionPointContainer, public IProvideClassInfo2 {
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

  // Whether the calling thread is the one that made this object.
  bool onHomeThread() const { return std::this_thread::get_id() == home_; }

  // IUnknown
  HRESULT QueryInterface(const IID& riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_Application) {
      *ppv = static_cast<IApplication*>(this);
    } else if (riid == IID_IConnectionPointContainer) {
      *ppv = static_cast<IConnectionPointContainer*>(this);
    } else if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2) {
      *ppv = static_cast<IProvideClassInfo2*>(this);
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
    if (left == 0) {
      std::lock_guard lock(gComponent);
      delete this;
    }
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
  HRESULT GetIDsOfNames(const IID& riid, OLECHAR** rgszNames, UINT cNames, LCID, DISPID* rgDispId) override;
  HRESULT Invoke(DISPID dispIdMember, const IID& riid, LCID, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                 EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

  // _Application
  HRESULT ShowForm() override {
    return call([&] { app_.ShowForm(); });
  }
  HRESULT FireEventThumbNav(uint8_t MoveDirection, VARIANT_BOOL* pResult) override {
    if (!pResult) return E_POINTER;
    bool result = false;
    const HRESULT hr = call([&] { result = app_.FireEventThumbNav(MoveDirection); });
    *pResult = result ? VARIANT_TRUE : VARIANT_FALSE;
    return hr;
  }
  HRESULT FireEventNewWin(VARIANT_BOOL bVal) override {
    return call([&] { app_.FireEventNewWin(bVal != VARIANT_FALSE); });
  }
  HRESULT UnloadForm() override {
    return call([&] { app_.UnloadForm(); });
  }
  HRESULT Style(VARIANT value) override {
    return call([&] { app_.Style(styleText(value)); });
  }
  HRESULT srcAppName(BSTR sAppName) override {
    return call([&] { app_.srcAppName(toUtf8(sAppName)); });
  }
  HRESULT OpenImage(BSTR FolderFile, BSTR FileName) override {
    return call([&] { app_.OpenImage(toUtf8(FolderFile), toUtf8(FileName)); });
  }

  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
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

  // IProvideClassInfo2: the event interface for clients without type information.
  HRESULT GetClassInfo(ITypeInfo** ppTI) override {
    if (!ppTI) return E_POINTER;
    *ppTI = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetGUID(DWORD dwGuidKind, GUID* pGUID) override {
    if (!pGUID) return E_POINTER;
    if (dwGuidKind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
      *pGUID = IID_NULL;
      return E_INVALIDARG;
    }
    *pGUID = DIID_ApplicationEvents;
    return S_OK;
  }

  IConnectionPoint* point() { return &point_; }

 private:
  // A member on the component: on this object's thread only, under the lock.
  template <class F>
  HRESULT call(F&& body) {
    if (!onHomeThread()) return RPC_E_WRONG_THREAD;
    std::lock_guard lock(gComponent);
    return guarded(std::forward<F>(body));
  }
  // Calls a member with its bound arguments, under the lock; a failure the
  // member raised becomes DISP_E_EXCEPTION with its error in pExcepInfo.
  HRESULT callMember(const Member& member, const BoundArguments& bound, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                     UINT* puArgErr);
  // Converts the arguments to the member's types and calls it.
  HRESULT dispatch(const Member& member, const VARIANT* const* args, const UINT* where, VARIANT* pVarResult,
                   UINT* puArgErr);

  Counted counted_;
  struct InUse {
    InUse() { ++gApplications; }
    ~InUse() { --gApplications; }
  } inUse_;
  std::atomic<ULONG> refs_{1};
  const std::thread::id home_ = std::this_thread::get_id();
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
HRESULT ConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
  if (!pUnkSink || !pdwCookie) return E_POINTER;
  *pdwCookie = 0;
  if (!owner_.onHomeThread()) return RPC_E_WRONG_THREAD;
  std::lock_guard lock(gComponent);
  void* sink = nullptr;
  if (FAILED(foreignQueryInterface(pUnkSink, DIID_ApplicationEvents, &sink)) || !sink) {
    sink = nullptr;
    if (FAILED(foreignQueryInterface(pUnkSink, IID_IDispatch, &sink)) || !sink) return CONNECT_E_CANNOTCONNECT;
  }
  try {
    sinks_.push_back({nextCookie_, sink});
  } catch (const std::bad_alloc&) {
    foreignRelease(sink);
    return E_OUTOFMEMORY;
  }
  *pdwCookie = nextCookie_++;
  return S_OK;
}
HRESULT ConnectionPoint::Unadvise(DWORD dwCookie) {
  if (!owner_.onHomeThread()) return RPC_E_WRONG_THREAD;
  std::lock_guard lock(gComponent);
  auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const Connection& c) { return c.cookie == dwCookie; });
  if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
  void* sink = it->sink;
  sinks_.erase(it);
  foreignRelease(sink);
  return S_OK;
}

// The enumerator of the container's connection points: there is one.
class PointEnumerator final : public OneInterface<IEnumConnectionPoints> {
 public:
  PointEnumerator(ApplicationObject& owner, ULONG position)
      : OneInterface(IID_IEnumConnectionPoints), owner_(owner), position_(position) {
    owner_.AddRef();
  }
  ~PointEnumerator() override { owner_.Release(); }
  HRESULT Next(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) override {
    if (!ppCP || (!pcFetched && cConnections != 1)) return E_POINTER;
    ULONG fetched = 0;
    while (fetched < cConnections && position_.load() < kCount) {
      ++position_;
      ppCP[fetched] = owner_.point();
      ppCP[fetched]->AddRef();
      ++fetched;
    }
    if (pcFetched) *pcFetched = fetched;
    return fetched == cConnections ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG cConnections) override {
    const ULONG left = kCount - std::min(position_.load(), kCount);
    position_ += std::min(cConnections, left);
    return cConnections <= left ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumConnectionPoints** ppEnum) override {
    if (!ppEnum) return E_POINTER;
    *ppEnum = new (std::nothrow) PointEnumerator(owner_, position_.load());
    return *ppEnum ? S_OK : E_OUTOFMEMORY;
  }

 private:
  static constexpr ULONG kCount = 1;
  Counted counted_;
  ApplicationObject& owner_;
  std::atomic<ULONG> position_;
};

HRESULT ApplicationObject::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = new (std::nothrow) PointEnumerator(*this, 0);
  return *ppEnum ? S_OK : E_OUTOFMEMORY;
}

HRESULT ApplicationObject::GetIDsOfNames(const IID& riid, OLECHAR** rgszNames, UINT cNames, LCID, DISPID* rgDispId) {
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

HRESULT ApplicationObject::Invoke(DISPID dispIdMember, const IID& riid, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                                  VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  if (!(riid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const Member* member = memberById(dispIdMember);
  if (!member) return DISP_E_MEMBERNOTFOUND;
  // Every member is a method. Scripting hosts call one with the method and
  // property-get flags together; a property get alone finds no property.
  if (!(wFlags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  BoundArguments bound;
  if (const HRESULT hr = bindArguments(*member, pDispParams ? *pDispParams : none, bound, puArgErr); FAILED(hr))
    return hr;
  if (!onHomeThread()) return RPC_E_WRONG_THREAD;
  return callMember(*member, bound, pVarResult, pExcepInfo, puArgErr);
}

HRESULT ApplicationObject::callMember(const Member& member, const BoundArguments& bound, VARIANT* pVarResult,
                                      EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  std::lock_guard lock(gComponent);
  if (pVarResult) *pVarResult = VARIANT{};
  const HRESULT hr = dispatch(member, bound.args, bound.where, pVarResult, puArgErr);
  if (FAILED(hr) && tLastError.set) {
    takeError(pExcepInfo);
    return DISP_E_EXCEPTION;
  }
  return hr;
}

HRESULT ApplicationObject::dispatch(const Member& member, const VARIANT* const* args, const UINT* where,
                                    VARIANT* pVarResult, UINT* puArgErr) {
  tLastError.set = false;
  const auto badArgument = [&](UINT p, HRESULT hr) {
    if (puArgErr) *puArgErr = where[p];
    return hr;
  };
  switch (member.id) {
    case DISPID_ShowForm:
      return ShowForm();
    case DISPID_FireEventThumbNav: {
      uint8_t direction = 0;
      if (HRESULT c = coerceToByte(*args[0], direction); FAILED(c)) return badArgument(0, c);
      VARIANT_BOOL result = VARIANT_FALSE;
      const HRESULT hr = FireEventThumbNav(direction, &result);
      if (SUCCEEDED(hr) && pVarResult) {
        pVarResult->vt = VT_BOOL;
        pVarResult->boolVal = result;
      }
      return hr;
    }
    case DISPID_FireEventNewWin: {
      bool value = false;
      if (HRESULT c = coerceToBool(*args[0], value); FAILED(c)) return badArgument(0, c);
      return FireEventNewWin(value ? VARIANT_TRUE : VARIANT_FALSE);
    }
    case DISPID_UnloadForm:
      return UnloadForm();
    case DISPID_Style:
      return Style(args[0] ? *args[0] : missingArgument());
    case DISPID_srcAppName: {
      std::string name;
      if (HRESULT c = coerceToText(*args[0], name); FAILED(c)) return badArgument(0, c);
      return call([&] { app_.srcAppName(name); });
    }
    case DISPID_OpenImage: {
      std::string folderFile, fileName;
      if (HRESULT c = coerceToText(*args[0], folderFile); FAILED(c)) return badArgument(0, c);
      if (HRESULT c = coerceToText(*args[1], fileName); FAILED(c)) return badArgument(1, c);
      return call([&] { app_.OpenImage(folderFile, fileName); });
    }
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

class ClassFactory final : public OneInterface<IClassFactory> {
 public:
  ClassFactory() : OneInterface(IID_IClassFactory) {}
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
};

// A new object handed out by the interface asked for; null and the failure
// otherwise. Called with gComponent held.
HRESULT newObject(const IID& riid, void** ppv, ApplicationObject** created) {
  if (!claimComponent()) return RPC_E_WRONG_THREAD;
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
  std::lock_guard lock(gComponent);
  return newObject(riid, ppvObject, nullptr);
}

// Registration. The path is the file the loader mapped this library from, as
// the kernel names it: absolute, whatever relative name it was loaded by and
// wherever the host has changed its folder to since.
const int kAnchor = 0;

// With verify, the file must still be the one mapped; without, the path it
// was mapped from is enough (to find the entries registration wrote).
std::string libraryPath(bool verify) {
  const auto address = reinterpret_cast<uintptr_t>(&kAnchor);
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    std::string range, perms, offset, device, inode, path;
    fields >> range >> perms >> offset >> device >> inode;
    std::getline(fields >> std::ws, path);
    const size_t dash = range.find('-');
    if (dash == std::string::npos) continue;
    const uintptr_t begin = std::stoull(range.substr(0, dash), nullptr, 16);
    const uintptr_t end = std::stoull(range.substr(dash + 1), nullptr, 16);
    if (address < begin || address >= end) continue;
    constexpr std::string_view kDeleted = " (deleted)";
    if (!verify && path.ends_with(kDeleted)) path.resize(path.size() - kDeleted.size());
    struct stat info {};
    if (path.empty() || path[0] != '/') return {};
    if (verify && (::stat(path.c_str(), &info) != 0 || std::to_string(info.st_ino) != inode)) return {};
    return path;
  }
  return {};
}

const std::string kClasses = "SOFTWARE\\Classes\\";

struct RegistryEntry {
  std::string key;
  std::string name;                  // "" is the key's default value
  std::optional<std::string> value;  // none: the key only
};

// What registration writes: the class and its ProgID. There is no type
// library and no proxy: neither is registered.
std::vector<RegistryEntry> registryEntries(const std::string& path) {
  const std::string clsid = toString(CLSID_Application);
  const std::string classKey = kClasses + "CLSID\\" + clsid;
  return {
      {classKey, "", kProgID},
      {classKey + "\\InprocServer32", "", path},  // no ThreadingModel: single-threaded
      {classKey + "\\ProgID", "", kProgID},
      {classKey + "\\VERSION", "", "1.0"},
      {classKey + "\\Programmable", "", std::nullopt},
      {kClasses + kProgID, "", kProgID},
      {kClasses + kProgID + "\\Clsid", "", clsid},
  };
}

bool samePath(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Removes the keys registration wrote, deepest first, each only while it
// holds nothing but what registration put there: no other value, no value
// changed since (another copy's registration), no key below it.
void removeRegistration(reg::Store& store, const std::string& path) {
  const std::vector<RegistryEntry> entries = registryEntries(path);
  std::vector<std::string> keys;
  for (const RegistryEntry& e : entries)
    if (std::none_of(keys.begin(), keys.end(), [&](const std::string& k) { return samePath(k, e.key); }))
      keys.push_back(e.key);
  std::sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& key : keys) {
    const std::optional<reg::Key> stored = store.openKey(key);
    if (!stored) continue;
    const bool ours = std::all_of(stored->values.begin(), stored->values.end(), [&](const auto& value) {
      return std::any_of(entries.begin(), entries.end(), [&](const RegistryEntry& e) {
        return samePath(e.key, key) && samePath(e.name, value.first) && e.value &&
               value.second == reg::Value::sz(*e.value);
      });
    });
    const std::string below = key + "\\";
    const auto all = store.keys();
    const bool hasChildren = std::any_of(all.begin(), all.end(), [&](const reg::Key& k) {
      return k.path.size() > below.size() && samePath(std::string_view(k.path).substr(0, below.size()), below);
    });
    if (ours && !hasChildren) store.deleteTree(key);
  }
}

template <class F>
HRESULT storeCall(F&& body) {
  tLastError.set = false;
  try {
    body();
    return S_OK;
  } catch (const reg::Error& e) {
    recordError(hresultFromWin32(e.code()), e.what());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    recordError(E_FAIL, e.what());
  }
  return tLastError.scode;
}

// The forms layer's platform outlives every static object, which may reach it
// while they go. Once they are gone (at exit, or when a host closes the
// library; a prioritised destructor runs after the static objects' ones)
// it goes too, so that a closed library leaves nothing behind.
__attribute__((destructor(101))) void releasePlatform() {
  kit::Platform& platform = kit::platform();
  platform.collectGarbage();
  delete &platform;
}

}  // namespace

}  // namespace korvena::com

using namespace korvena::com;
namespace reg = korvena::reg;

extern "C" {

HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(rclsid == CLSID_Application)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) ClassFactory();
  if (!factory) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

HRESULT DllCanUnloadNow() {
  if (gObjects.load() > 0 || gLocks.load() > 0) return S_FALSE;
  // The windows are looked at only when no other call is running.
  std::unique_lock lock(gComponent, std::try_to_lock);
  if (!lock.owns_lock()) return S_FALSE;
  // The Qt platform holds windows and connections of this library's code.
  if (korvena::CurrentPlatform() == korvena::Platform::Qt) return S_FALSE;
  return kit::platform().forms().empty() ? S_OK : S_FALSE;
}

HRESULT DllRegisterServer() {
  const std::string path = libraryPath(true);
  if (path.empty()) {
    recordError(E_FAIL, "The library's own file cannot be found");
    return E_FAIL;
  }
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
  const std::string path = libraryPath(false);
  return storeCall([&] {
    reg::Store store = reg::defaultStore();
    removeRegistration(store, path);
  });
}

HRESULT KorvenaGetApplicationObject(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  std::lock_guard lock(gComponent);
  if (gDefault) return gDefault->onHomeThread() ? gDefault->QueryInterface(riid, ppv) : RPC_E_WRONG_THREAD;
  ApplicationObject* created = nullptr;
  const HRESULT hr = newObject(riid, ppv, &created);
  if (SUCCEEDED(hr)) gDefault = created;
  return hr;
}

HRESULT KorvenaGetErrorInfo(EXCEPINFO* info) {
  if (!info) return E_POINTER;
  *info = EXCEPINFO{};
  if (!tLastError.set) return S_FALSE;
  takeError(info);
  return S_OK;
}

}  // extern "C"
