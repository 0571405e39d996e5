// The binary interface seen from inside: what its calls do to the
// component's state, argument coercion and the errors of late binding,
// re-entrant sinks, the predeclared instance, the one-thread rule and the
// strings. The C host in tests/package/client.c checks the rest from outside.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "component/basView.h"
#include "component/com_internal.h"
#include "kit/form.h"
#include "korvena/Application.h"
#include "korvena/com.h"
#include "store/registry_store.h"
#include "toolbar/frmNavToolbar.h"

namespace korvena {
namespace {

using namespace com;
namespace fs = std::filesystem;

// A string argument; invoke frees it.
VARIANT text(std::u16string_view s) {
  VARIANT v{};
  v.vt = VT_BSTR;
  v.bstrVal = KorvenaAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return v;
}
VARIANT typed(VARTYPE vt, int32_t n = 0) {
  VARIANT v{};
  v.vt = vt;
  if (vt == VT_UI1) v.bVal = static_cast<uint8_t>(n);
  if (vt == VT_I2) v.iVal = static_cast<int16_t>(n);
  if (vt == VT_I4 || vt == VT_ERROR) v.lVal = n;
  if (vt == VT_BOOL) v.boolVal = n ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
struct Bstr {
  BSTR s;
  explicit Bstr(const char* utf8) : s(KorvenaAllocStringUtf8(utf8)) {}
  ~Bstr() { KorvenaFreeString(s); }
};

// One late-bound call and what came back.
struct Call {
  HRESULT hr = S_OK;
  VARTYPE resultType = VT_EMPTY;
  VARIANT_BOOL resultBool = 0;
  SCODE scode = 0;
  std::string description, source;
  UINT argErr = 999;
  using Error = std::tuple<HRESULT, SCODE, std::string>;
  Error error() const { return {hr, scode, description}; }
};

// Arguments in rgvarg order (the last positional first, named ones first).
Call invokeRaw(IDispatch* d, DISPID id, std::vector<VARIANT> rgvarg, std::vector<DISPID> named = {},
               WORD flags = DISPATCH_METHOD) {
  DISPPARAMS params{rgvarg.data(), named.data(), static_cast<UINT>(rgvarg.size()), static_cast<UINT>(named.size())};
  VARIANT result{};
  EXCEPINFO excep{};
  Call call;
  call.hr = d->Invoke(id, IID_NULL, 0x409, flags, &params, &result, &excep, &call.argErr);
  call.resultType = result.vt;
  call.resultBool = result.boolVal;
  call.scode = excep.scode;
  call.description = toUtf8(excep.bstrDescription);
  call.source = toUtf8(excep.bstrSource);
  KorvenaExcepInfoClear(&excep);
  KorvenaVariantClear(&result);
  for (VARIANT& v : rgvarg) KorvenaVariantClear(&v);
  return call;
}
// Positional arguments in the order of the parameters.
Call invoke(IDispatch* d, DISPID id, std::vector<VARIANT> args = {}) {
  return invokeRaw(d, id, std::vector<VARIANT>(args.rbegin(), args.rend()));
}

// An event sink of the host on the stack; its count shows what the server holds.
class Sink final : public IDispatch {
 public:
  bool dispatchCapable = true;
  ULONG refs = 1;
  std::vector<std::pair<int, bool>> calls;  // direction, flag as it came in
  std::function<void(uint8_t, VARIANT_BOOL&)> onThumbNav;
  bool malformed = false;
  HRESULT QueryInterface(const IID& riid, void** ppv) override {
    if (riid == IID_IUnknown || (dispatchCapable && (riid == IID_IDispatch || riid == DIID_ApplicationEvents))) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(const IID&, OLECHAR**, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, const IID&, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
    if (id != DISPID_ThumbNav || !p || p->cArgs != 2 || p->rgvarg[1].vt != VT_UI1 ||
        p->rgvarg[0].vt != (VT_BYREF | VT_BOOL) || !p->rgvarg[0].pboolVal) {
      malformed = true;
      return DISP_E_BADPARAMCOUNT;
    }
    VARIANT_BOOL& flag = *p->rgvarg[0].pboolVal;
    calls.emplace_back(p->rgvarg[1].bVal, flag != 0);
    if (onThumbNav) onThumbNav(p->rgvarg[1].bVal, flag);
    return S_OK;
  }
};

class ComTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetComponent();
    char pattern[] = "/tmp/korvena-com-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    reg::setDefaultFolder(folder_);
  }
  void TearDown() override {
    ResetComponent();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);  // every test gives back what it took
    reg::resetDefaultStore();
    fs::remove_all(folder_);
  }
  static IApplication* create() {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(DllGetClassObject(CLSID_Application, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    if (!factory) return nullptr;
    IApplication* app = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_Application, reinterpret_cast<void**>(&app)), S_OK);
    factory->Release();
    return app;
  }
  static kit::ComboBox& imageList() { return NavToolbar().c().cboImageName; }
  static bool toolbarLoaded() { return kit::isFormLoaded("frmNavToolbar"); }
  std::string folder_;
};

TEST_F(ComTest, LateBindingFindsMembersByNameAndCoercesArguments) {
  IApplication* app = create();
  ASSERT_NE(app, nullptr);
  IDispatch* d = app;
  OLECHAR* names[] = {const_cast<OLECHAR*>(u"openimage"), const_cast<OLECHAR*>(u"FILENAME"),
                      const_cast<OLECHAR*>(u"FolderFile")};
  DISPID ids[3] = {5, 5, 5};
  EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 3, 0, ids), S_OK);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], 0);
  names[2] = const_cast<OLECHAR*>(u"Folder");
  EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_OpenImage);
  EXPECT_EQ(ids[2], DISPID_UNKNOWN);
  EXPECT_EQ(d->GetIDsOfNames(IID_IDispatch, names, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
  // Each member by dispatch id, with coercions to text, flag and byte.
  EXPECT_EQ(invoke(d, DISPID_srcAppName, {text(u"Host \u00D8")}).hr, S_OK);
  EXPECT_EQ(view().sHostAppName, "Host \xC3\x98");
  view().sHostAppName = "Host";
  for (auto& [args, style] : {std::pair{std::vector{typed(VT_UI1, 7)}, "7"},
                              {std::vector{typed(VT_BOOL, 1)}, "True"},
                              {std::vector<VARIANT>{}, ""} /* left out */}) {
    EXPECT_EQ(invoke(d, DISPID_Style, args).hr, S_OK);
    EXPECT_EQ(view().sViewStyle, style);
  }
  EXPECT_EQ(invoke(d, DISPID_Style, {text(u"pbMDILoading")}).hr, S_OK);
  EXPECT_EQ(d->Invoke(DISPID_ShowForm, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_TRUE(toolbarLoaded());
  EXPECT_EQ(invoke(d, DISPID_FireEventNewWin, {text(u" true ")}).hr, S_OK);
  EXPECT_EQ(invoke(d, DISPID_OpenImage, {text(u"/nowhere/1.png"), text(u"one")}).hr, S_OK);
  EXPECT_EQ(invokeRaw(d, DISPID_OpenImage, {text(u"two"), text(u"/nowhere/2.png")}, {1, 0}).hr, S_OK);  // named
  ASSERT_EQ(imageList().listCount(), 2);
  EXPECT_EQ(imageList().itemText(1), "two");
  // Same-window mode renames the current entry; a null string is the empty one.
  EXPECT_EQ(app->FireEventNewWin(VARIANT_FALSE), S_OK);
  EXPECT_EQ(invoke(d, DISPID_OpenImage, {text(u"/nowhere/3.png"), typed(VT_I4, 3)}).hr, S_OK);
  EXPECT_EQ(imageList().itemText(1), "3");
  const Bstr file("/nowhere/4.png");
  EXPECT_EQ(app->OpenImage(file.s, nullptr), S_OK);
  EXPECT_EQ(imageList().listCount(), 2);
  EXPECT_EQ(imageList().itemText(1), "");
  const Call thumb = invoke(d, DISPID_FireEventThumbNav, {text(u" 2.5 ")});  // rounds to 2
  EXPECT_EQ(thumb.hr, S_OK);
  EXPECT_EQ(thumb.resultType, VT_BOOL);
  EXPECT_EQ(thumb.resultBool, VARIANT_FALSE);  // no sink
  EXPECT_EQ(app->FireEventThumbNav(3, nullptr), E_POINTER);
  // A property read is not a method call, but scripting hosts send both flags.
  EXPECT_EQ(invokeRaw(d, DISPID_UnloadForm, {}, {}, DISPATCH_METHOD | DISPATCH_PROPERTYGET).hr, S_OK);
  EXPECT_FALSE(toolbarLoaded());
  // Calls that do not fit: an error result, never a crash, nothing changed.
  struct Bad {
    DISPID id;
    std::vector<VARIANT> rgvarg;
    std::vector<DISPID> named;
    WORD flags;
    HRESULT hr;
    UINT argErr;
  };
  const Bad bad[] = {
      {0x60030008, {}, {}, DISPATCH_METHOD, DISP_E_MEMBERNOTFOUND, 999},
      {DISPID_ThumbNav, {}, {}, DISPATCH_METHOD, DISP_E_MEMBERNOTFOUND, 999},
      {DISPID_srcAppName, {text(u"x")}, {}, DISPATCH_PROPERTYPUT, DISP_E_MEMBERNOTFOUND, 999},
      {DISPID_UnloadForm, {}, {}, DISPATCH_PROPERTYGET, DISP_E_MEMBERNOTFOUND, 999},
      {DISPID_ShowForm, {typed(VT_I4, 1)}, {}, DISPATCH_METHOD, DISP_E_BADPARAMCOUNT, 999},
      {DISPID_OpenImage, {text(u"only one")}, {}, DISPATCH_METHOD, DISP_E_BADPARAMCOUNT, 999},
      {DISPID_Style, {typed(VT_I4, 1), typed(VT_I4, 2)}, {}, DISPATCH_METHOD, DISP_E_BADPARAMCOUNT, 999},
      {DISPID_FireEventThumbNav, {text(u"next")}, {}, DISPATCH_METHOD, DISP_E_TYPEMISMATCH, 0},
      {DISPID_FireEventNewWin, {text(u"maybe")}, {}, DISPATCH_METHOD, DISP_E_TYPEMISMATCH, 0},
      {DISPID_FireEventNewWin, {typed(VT_BYREF | VT_BOOL)}, {}, DISPATCH_METHOD, DISP_E_TYPEMISMATCH, 0},
      // The second parameter sits first in rgvarg.
      {DISPID_OpenImage, {typed(VT_NULL), text(u"/x.png")}, {}, DISPATCH_METHOD, DISP_E_TYPEMISMATCH, 0},
      {DISPID_srcAppName, {typed(VT_ERROR, DISP_E_PARAMNOTFOUND)}, {}, DISPATCH_METHOD, DISP_E_PARAMNOTOPTIONAL, 999},
      {DISPID_srcAppName, {text(u"x")}, {4}, DISPATCH_METHOD, DISP_E_PARAMNOTFOUND, 999},
      {DISPID_OpenImage, {text(u"x"), text(u"y")}, {0, 0}, DISPATCH_METHOD, DISP_E_PARAMNOTFOUND, 999},
      {DISPID_OpenImage, {text(u"x")}, {1}, DISPATCH_METHOD, DISP_E_PARAMNOTOPTIONAL, 999},
  };
  for (const Bad& c : bad) {
    const Call call = invokeRaw(d, c.id, c.rgvarg, c.named, c.flags);
    EXPECT_EQ(call.hr, c.hr) << &c - bad;
    EXPECT_TRUE(c.argErr == 999 || call.argErr == c.argErr) << &c - bad;
  }
  DISPPARAMS broken{nullptr, nullptr, 1, 0};
  EXPECT_EQ(d->Invoke(DISPID_srcAppName, IID_NULL, 0, DISPATCH_METHOD, &broken, nullptr, nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(d->Invoke(DISPID_ShowForm, IID_IDispatch, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(view().sHostAppName, "Host");
  EXPECT_FALSE(toolbarLoaded());
  EXPECT_EQ(app->Release(), 0u);
}

TEST_F(ComTest, RuntimeErrorsComeBackWithTheirNumberAndDescription) {
  // Registration reports a store that cannot be read.
  const fs::path storeFile = fs::path(folder_) / "HKEY_LOCAL_MACHINE.reg";
  std::ofstream(storeFile) << "this is not a store\n[";
  EXPECT_EQ(DllRegisterServer(), hresultFromWin32(reg::code::BadDatabase));
  EXCEPINFO info{};
  EXPECT_EQ(KorvenaGetErrorInfo(&info), S_OK);
  EXPECT_EQ(info.scode, hresult(0x800703F1));
  EXPECT_FALSE(toUtf8(info.bstrDescription).empty());
  KorvenaExcepInfoClear(&info);
  EXPECT_EQ(KorvenaGetErrorInfo(&info), S_FALSE);  // handed over once
  fs::remove(storeFile);
  IApplication* app = create();
  ASSERT_NE(app, nullptr);
  // Opening an image before ShowForm (error 91) through the vtable: the result
  // is the scode; the description waits for the host.
  const Bstr file("/nowhere/1.png");
  EXPECT_EQ(app->OpenImage(file.s, file.s), hresult(0x800A005B));
  ASSERT_EQ(KorvenaGetErrorInfo(&info), S_OK);
  EXPECT_EQ(std::pair(info.scode, toUtf8(info.bstrDescription)),
            std::pair(hresult(0x800A005B), std::string("Object variable or With block variable not set")));
  KorvenaExcepInfoClear(&info);
  // A number over 16 bits is the result itself: the store refuses an empty
  // application name when the toolbar saves its place.
  ResetComponent();
  EXPECT_EQ(invoke(app, DISPID_srcAppName, {text(u"")}).hr, S_OK);
  EXPECT_EQ(invoke(app, DISPID_Style, {text(u"pbMDILoading")}).hr, S_OK);
  EXPECT_EQ(app->ShowForm(), S_OK);
  Call call = invoke(app, DISPID_UnloadForm);
  EXPECT_EQ(call.error(), Call::Error(DISP_E_EXCEPTION, hresult(0x800403E8), "AppName may not be empty"));
  EXPECT_EQ(call.source, "Korvena");
  EXPECT_EQ(KorvenaGetErrorInfo(&info), S_FALSE);  // handed over by Invoke, not left behind
  EXPECT_FALSE(toolbarLoaded());                   // the unload itself completed
  // A Style argument with no text form fails inside the member: error 13.
  EXPECT_EQ(invoke(app, DISPID_Style, {typed(VT_NULL)}).error(),
            Call::Error(DISP_E_EXCEPTION, hresult(0x800A000D), "Type mismatch"));
  EXPECT_EQ(app->Release(), 0u);
}

TEST_F(ComTest, ThumbNavReachesEverySinkAndTheHostAnswersWithOpenImage) {
  IApplication* app = create();
  ASSERT_NE(app, nullptr);
  IConnectionPointContainer* container = nullptr;
  ASSERT_EQ(app->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
  IConnectionPoint* point = nullptr;
  EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &point), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(container->FindConnectionPoint(DIID_ApplicationEvents, &point), S_OK);
  // The first sink is the host: it answers each request by opening an image
  // (a call back into the server during its event) and reports the end for
  // "last". The second only watches, and sees the flag the first set.
  Sink host, watcher;
  host.onThumbNav = [&](uint8_t direction, VARIANT_BOOL& firstLast) {
    const Bstr name(("image" + std::to_string(direction)).c_str());
    app->OpenImage(name.s, name.s);
    if (direction == MoveLast) firstLast = VARIANT_TRUE;
  };
  DWORD hostCookie = 0, watcherCookie = 0;
  ASSERT_EQ(point->Advise(&host, &hostCookie), S_OK);
  ASSERT_EQ(point->Advise(&watcher, &watcherCookie), S_OK);
  EXPECT_EQ(invoke(app, DISPID_srcAppName, {text(u"Host")}).hr, S_OK);
  EXPECT_EQ(invoke(app, DISPID_Style, {text(u"pbMDILoading")}).hr, S_OK);
  EXPECT_EQ(app->ShowForm(), S_OK);
  NavToolbar().c().Toolbar.userClick("MoveNext");
  EXPECT_EQ(watcher.calls, (std::vector<std::pair<int, bool>>{{3, false}}));
  ASSERT_EQ(imageList().listCount(), 1);
  EXPECT_EQ(imageList().itemText(0), "image3");
  VARIANT_BOOL result = VARIANT_FALSE;
  EXPECT_EQ(app->FireEventThumbNav(MoveLast, &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(watcher.calls.back(), std::make_pair(static_cast<int>(MoveLast), true));
  const Call call = invoke(app, DISPID_FireEventThumbNav, {typed(VT_UI1, MoveFirst)});
  EXPECT_EQ(call.resultBool, VARIANT_FALSE);
  EXPECT_EQ(host.calls.size(), 3u);
  EXPECT_EQ(imageList().itemText(0), "image1");
  // A sink with no dispatch interface is refused and not held.
  Sink plain;
  plain.dispatchCapable = false;
  DWORD cookie = 7;
  EXPECT_EQ(point->Advise(&plain, &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(std::pair(cookie, plain.refs), std::pair(DWORD{0}, ULONG{1}));
  EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
  // A sink that leaves during its own event does not disturb the others.
  EXPECT_EQ(point->Unadvise(hostCookie), S_OK);
  Sink leaving;
  DWORD leavingCookie = 0;
  leaving.onThumbNav = [&](uint8_t, VARIANT_BOOL&) { point->Unadvise(leavingCookie); };
  ASSERT_EQ(point->Advise(&leaving, &leavingCookie), S_OK);
  EXPECT_EQ(point->Advise(&host, &hostCookie), S_OK);
  EXPECT_EQ(app->FireEventThumbNav(MoveLast, &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(std::pair(leaving.calls.size(), leaving.refs), std::pair(size_t{1}, ULONG{1}));
  EXPECT_FALSE(host.malformed || watcher.malformed || leaving.malformed);
  // The last release lets go of the remaining sinks.
  point->Release();
  container->Release();
  EXPECT_EQ(app->Release(), 0u);
  EXPECT_EQ(std::pair(watcher.refs, host.refs), std::pair(1u, 1u));
}

TEST_F(ComTest, PredeclaredInstanceIsOneObjectThatTheToolbarDoesNotKeepAlive) {
  IApplication* first = nullptr;
  IDispatch* second = nullptr;
  ASSERT_EQ(KorvenaGetApplicationObject(IID_Application, reinterpret_cast<void**>(&first)), S_OK);
  ASSERT_EQ(KorvenaGetApplicationObject(IID_IDispatch, reinterpret_cast<void**>(&second)), S_OK);
  EXPECT_EQ(static_cast<IDispatch*>(first), second);
  void* none = &none;
  EXPECT_EQ(KorvenaGetApplicationObject(IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(KorvenaGetApplicationObject(IID_IUnknown, nullptr), E_POINTER);
  IApplication* created = create();
  EXPECT_NE(created, first);
  created->Release();
  EXPECT_EQ(invoke(first, DISPID_Style, {text(u"pbMDILoading")}).hr, S_OK);
  EXPECT_EQ(first->ShowForm(), S_OK);
  ASSERT_NE(NavToolbar().eventObject(), nullptr);
  EXPECT_EQ(second->Release(), 1u);
  EXPECT_EQ(first->Release(), 0u);
  // The toolbar still stands but holds no object (that it keeps the library
  // loaded the C client checks).
  EXPECT_TRUE(toolbarLoaded());
  EXPECT_EQ(NavToolbar().eventObject(), nullptr);
  ASSERT_EQ(KorvenaGetApplicationObject(IID_Application, reinterpret_cast<void**>(&first)), S_OK);  // a fresh one
  EXPECT_EQ(first->Release(), 0u);
}

// Two threads that each make and drive their own objects are each either
// served or refused with RPC_E_WRONG_THREAD while the other's objects or
// windows are alive, never both at once, never a fault.
TEST_F(ComTest, TwoThreadsAreServedOneAtATime) {
  std::atomic<int> served{0}, refused{0}, failed{0};
  const auto drive = [&] {
    for (int i = 0; i < 200; ++i) {
      IApplication* app = nullptr;
      IClassFactory* factory = nullptr;
      DllGetClassObject(CLSID_Application, IID_IClassFactory, reinterpret_cast<void**>(&factory));
      const HRESULT hr = factory->CreateInstance(nullptr, IID_Application, reinterpret_cast<void**>(&app));
      factory->Release();
      if (hr == RPC_E_WRONG_THREAD) {
        ++refused;
        continue;
      }
      VARIANT_BOOL last = VARIANT_FALSE;
      const Bstr name("Host");
      VARIANT style = text(u"pbMDILoading");
      const bool ok = hr == S_OK && app->srcAppName(name.s) == S_OK && app->Style(style) == S_OK &&
                      app->ShowForm() == S_OK && app->FireEventThumbNav(MoveNext, &last) == S_OK &&
                      app->UnloadForm() == S_OK;
      KorvenaVariantClear(&style);
      if (app) app->Release();
      ++(ok ? served : failed);
    }
  };
  std::thread first(drive), second(drive);
  first.join();
  second.join();
  EXPECT_EQ(failed, 0);
  EXPECT_GT(served, 0);
  EXPECT_EQ(served + refused, 400);
  // An object answers only the thread that made it; while it lives no other thread gets one.
  IApplication* app = create();
  ASSERT_NE(app, nullptr);
  std::thread([&] {
    VARIANT_BOOL last = VARIANT_FALSE;
    EXPECT_EQ(app->FireEventThumbNav(MoveNext, &last), RPC_E_WRONG_THREAD);
    EXPECT_EQ(invoke(app, DISPID_ShowForm).hr, RPC_E_WRONG_THREAD);
    void* other = nullptr;
    EXPECT_EQ(KorvenaGetApplicationObject(IID_IDispatch, &other), RPC_E_WRONG_THREAD);
  }).join();
  EXPECT_FALSE(toolbarLoaded());
  EXPECT_EQ(app->Release(), 0u);
}

TEST(ComStrings, LengthPrefixedStringsAndTheirConversions) {
  BSTR s = KorvenaAllocStringLen(u"a\0b", 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(KorvenaStringLen(s), 3u);
  uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<const char*>(s) - 4, 4);
  EXPECT_EQ(prefix, 6u);
  EXPECT_EQ(s[3], u'\0');
  EXPECT_EQ(toUtf8(s), std::string("a\0b", 3));
  KorvenaFreeString(s);
  BSTR zeros = KorvenaAllocStringLen(nullptr, 4);
  ASSERT_NE(zeros, nullptr);
  EXPECT_EQ(KorvenaStringLen(zeros), 4u);
  EXPECT_EQ(zeros[0] | zeros[3] | zeros[4], 0);
  KorvenaFreeString(zeros);
  EXPECT_EQ(KorvenaAllocStringLen(nullptr, 0x7FFFFFFF), nullptr);  // the byte length would not fit
  EXPECT_EQ(KorvenaAllocString(nullptr), nullptr);
  EXPECT_EQ(KorvenaStringLen(nullptr), 0u);
  KorvenaFreeString(nullptr);
  EXPECT_EQ(toUtf8(static_cast<BSTR>(nullptr)), "");
  const Bstr wide("\xC3\x86r\xC3\xB8 \xF0\x9F\x93\xB7");
  EXPECT_EQ(std::u16string(wide.s, KorvenaStringLen(wide.s)), u"\u00C6r\u00F8 \U0001F4F7");
  // Malformed input of either kind becomes U+FFFD, one for each bad unit.
  EXPECT_EQ(toUtf16("a\xFF"
                    "b\xC0\xAF"
                    "\xED\xA0\x80"),
            u"a\uFFFDb\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(toUtf16("\xE2\x82"), u"\uFFFD\uFFFD");
  const char16_t lone[] = {u'x', 0xD83D, u'y', 0xDC37, 0};
  EXPECT_EQ(toUtf8(std::u16string_view(lone)), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
  VARIANT v = text(u"owned");
  KorvenaVariantClear(&v);
  EXPECT_EQ(std::pair(v.vt, v.bstrVal), std::pair(VARTYPE{VT_EMPTY}, BSTR{nullptr}));
  KorvenaVariantClear(nullptr);
}

}  // namespace
}  // namespace korvena
