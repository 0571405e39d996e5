// The binary interface seen from inside: what its calls do to the
// component's state, the toolbar's events on advised sinks, the predeclared
// instance, the one-thread rule and the strings. A host in C that loads the
// built library (tests/package/client.c) checks the rest from outside.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "component/basView.h"
#include "component/com_internal.h"
#include "kit/form.h"
#include "korvena/Application.h"
#include "korvena/com.h"
#include "support/registry_store.h"
#include "toolbar/frmNavToolbar.h"

namespace korvena {
namespace {

using namespace com;
namespace fs = std::filesystem;

// The entry points, as linked into this program with the internals.
struct Server {
  decltype(&DllGetClassObject) getClassObject = &DllGetClassObject;
  decltype(&DllCanUnloadNow) canUnloadNow = &DllCanUnloadNow;
  decltype(&KorvenaGetApplicationObject) applicationObject = &KorvenaGetApplicationObject;
};

// A string argument; Call frees it.
VARIANT text(std::u16string_view s) {
  VARIANT v{};
  v.vt = VT_BSTR;
  v.bstrVal = KorvenaAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return v;
}
VARIANT number(VARTYPE vt, int32_t n) {
  VARIANT v{};
  v.vt = vt;
  if (vt == VT_UI1) v.bVal = static_cast<uint8_t>(n);
  if (vt == VT_I2) v.iVal = static_cast<int16_t>(n);
  if (vt == VT_I4) v.lVal = n;
  if (vt == VT_BOOL) v.boolVal = n ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
VARIANT typed(VARTYPE vt, SCODE scode = 0) {
  VARIANT v{};
  v.vt = vt;
  v.scode = scode;
  return v;
}

// One late-bound call and what came back.
struct Call {
  HRESULT hr = S_OK;
  VARTYPE resultType = VT_EMPTY;
  VARIANT_BOOL resultBool = 0;
  SCODE scode = 0;
  std::string description, source;
  UINT argErr = 999;
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

// An event sink of the host. It lives on the stack; its count shows what
// the server still holds.
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
  HRESULT GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
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
    server_ = std::make_unique<Server>();
  }
  void TearDown() override {
    // Every test gives back what it took.
    ResetComponent();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    server_.reset();
    reg::resetDefaultStore();
    fs::remove_all(folder_);
  }

  IApplication* create() {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(server_->getClassObject(CLSID_Application, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
    if (!factory) return nullptr;
    IApplication* app = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_Application, reinterpret_cast<void**>(&app)), S_OK);
    factory->Release();
    return app;
  }

  static kit::ComboBox& imageList() { return NavToolbar().c().cboImageName; }

  std::string folder_;
  std::unique_ptr<Server> server_;
};

TEST_F(ComTest, RegistrationReportsAStoreThatCannotBeRead) {
  std::ofstream(fs::path(folder_) / "HKEY_LOCAL_MACHINE.reg") << "this is not a store\n[";
  EXPECT_EQ(DllRegisterServer(), hresultFromWin32(reg::code::BadDatabase));
  EXCEPINFO info{};
  EXPECT_EQ(KorvenaGetErrorInfo(&info), S_OK);
  EXPECT_EQ(info.scode, hresult(0x800703F1));
  EXPECT_FALSE(toUtf8(info.bstrDescription).empty());
  KorvenaExcepInfoClear(&info);
  EXPECT_EQ(KorvenaGetErrorInfo(&info), S_FALSE);  // handed over once
}

TEST_F(ComTest, VtableMembersDriveTheComponent) {
  IApplication* app = create();
  ASSERT_NE(app, nullptr);

  BSTR name = KorvenaAllocString(u"Fotoarchiv \u00D8rsted \U0001F4F7");
  EXPECT_EQ(app->srcAppName(name), S_OK);
  KorvenaFreeString(name);
  EXPECT_EQ(view().sHostAppName, "Fotoarchiv \xC3\x98rsted \xF0\x9F\x93\xB7");
  VARIANT style = text(u"pbMDILoading");
  EXPECT_EQ(app->Style(style), S_OK);
  KorvenaVariantClear(&style);
  EXPECT_EQ(view().sViewStyle, "pbMDILoading");

  EXPECT_EQ(app->ShowForm(), S_OK);
  EXPECT_TRUE(kit::isFormLoaded("frmNavToolbar"));
  EXPECT_FALSE(NavToolbar().visible());
  EXPECT_NE(NavToolbar().eventObject(), nullptr);

  // New-window mode adds an entry per image; same-window mode renames the current one.
  EXPECT_EQ(app->FireEventNewWin(VARIANT_TRUE), S_OK);
  BSTR file = KorvenaAllocString(u"/nowhere/a.jpg");
  BSTR a = KorvenaAllocString(u"a.jpg"), b = KorvenaAllocString(u"b.jpg");
  EXPECT_EQ(app->OpenImage(file, a), S_OK);
  EXPECT_EQ(app->OpenImage(file, b), S_OK);
  EXPECT_EQ(imageList().listCount(), 2);
  EXPECT_EQ(app->FireEventNewWin(VARIANT_FALSE), S_OK);
  EXPECT_EQ(app->OpenImage(file, nullptr), S_OK);  // a null string is the empty one
  ASSERT_EQ(imageList().listCount(), 2);
  EXPECT_EQ(imageList().itemText(0), "a.jpg");
  EXPECT_EQ(imageList().itemText(1), "");
  KorvenaFreeString(file);
  KorvenaFreeString(a);
  KorvenaFreeString(b);

  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(app->FireEventThumbNav(3, &result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);  // no sink
  EXPECT_EQ(app->FireEventThumbNav(3, nullptr), E_POINTER);

  EXPECT_EQ(app->Style(typed(VT_ERROR, DISP_E_PARAMNOTFOUND)), S_OK);
  EXPECT_EQ(view().sViewStyle, "");
  EXPECT_EQ(app->Style(number(VT_BOOL, 1)), S_OK);
  EXPECT_EQ(view().sViewStyle, "True");
  EXPECT_EQ(app->Style(number(VT_I4, -42)), S_OK);
  EXPECT_EQ(view().sViewStyle, "-42");

  view().sHostAppName = "Host";
  EXPECT_EQ(app->UnloadForm(), S_OK);
  EXPECT_FALSE(kit::isFormLoaded("frmNavToolbar"));
  EXPECT_EQ(app->UnloadForm(), S_OK);  // nothing loaded: nothing to do
  auto saved = reg::defaultStore().openKey("SOFTWARE\\Host\\Dialog\\D9");  // the toolbar saved its place
  ASSERT_TRUE(saved);
  EXPECT_NE(saved->find("Left"), nullptr);
  EXPECT_EQ(app->Release(), 0u);
}

TEST_F(ComTest, LateBindingFindsMembersByNameAndCoercesArguments) {
  IApplication* app = create();
  ASSERT_NE(app, nullptr);
  IDispatch* d = app;

  OLECHAR* unknown[] = {const_cast<OLECHAR*>(u"ThumbNav")};
  DISPID ids[3] = {5, 5, 5};
  EXPECT_EQ(d->GetIDsOfNames(IID_NULL, unknown, 1, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
  OLECHAR* withParams[] = {const_cast<OLECHAR*>(u"openimage"), const_cast<OLECHAR*>(u"FILENAME"),
                           const_cast<OLECHAR*>(u"FolderFile")};
  EXPECT_EQ(d->GetIDsOfNames(IID_NULL, withParams, 3, 0, ids), S_OK);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], 0);
  withParams[2] = const_cast<OLECHAR*>(u"Folder");
  EXPECT_EQ(d->GetIDsOfNames(IID_NULL, withParams, 3, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_OpenImage);
  EXPECT_EQ(ids[2], DISPID_UNKNOWN);
  EXPECT_EQ(d->GetIDsOfNames(IID_IDispatch, withParams, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);

  // All seven members by dispatch id, with coercions.
  EXPECT_EQ(invoke(d, DISPID_srcAppName, {text(u"Host")}).hr, S_OK);
  EXPECT_EQ(view().sHostAppName, "Host");
  EXPECT_EQ(invoke(d, DISPID_Style, {number(VT_UI1, 7)}).hr, S_OK);
  EXPECT_EQ(view().sViewStyle, "7");
  EXPECT_EQ(invoke(d, DISPID_Style).hr, S_OK);  // left out
  EXPECT_EQ(view().sViewStyle, "");
  EXPECT_EQ(invoke(d, DISPID_Style, {text(u"pbMDILoading")}).hr, S_OK);
  EXPECT_EQ(d->Invoke(DISPID_ShowForm, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_TRUE(kit::isFormLoaded("frmNavToolbar"));
  EXPECT_EQ(invoke(d, DISPID_FireEventNewWin, {text(u" true ")}).hr, S_OK);
  EXPECT_EQ(invoke(d, DISPID_OpenImage, {text(u"/nowhere/1.png"), text(u"one")}).hr, S_OK);
  // Named arguments in either order.
  EXPECT_EQ(invokeRaw(d, DISPID_OpenImage, {text(u"two"), text(u"/nowhere/2.png")}, {1, 0}).hr, S_OK);
  ASSERT_EQ(imageList().listCount(), 2);
  EXPECT_EQ(imageList().itemText(1), "two");
  EXPECT_EQ(invoke(d, DISPID_FireEventNewWin, {number(VT_I2, 0)}).hr, S_OK);
  EXPECT_EQ(invoke(d, DISPID_OpenImage, {text(u"/nowhere/3.png"), number(VT_I4, 3)}).hr, S_OK);
  EXPECT_EQ(imageList().listCount(), 2);
  EXPECT_EQ(imageList().itemText(1), "3");
  Call thumb = invoke(d, DISPID_FireEventThumbNav, {text(u" 2.5 ")});  // rounds to 2
  EXPECT_EQ(thumb.hr, S_OK);
  EXPECT_EQ(thumb.resultType, VT_BOOL);
  EXPECT_EQ(thumb.resultBool, VARIANT_FALSE);
  EXPECT_EQ(invoke(d, DISPID_UnloadForm).hr, S_OK);
  EXPECT_FALSE(kit::isFormLoaded("frmNavToolbar"));

  // Calls that do not fit: an error result, never a crash, nothing changed.
  EXPECT_EQ(invoke(d, 0x60030008).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(invoke(d, DISPID_ThumbNav).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(invokeRaw(d, DISPID_srcAppName, {text(u"x")}, {}, DISPATCH_PROPERTYPUT).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(invoke(d, DISPID_ShowForm, {number(VT_I4, 1)}).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(invoke(d, DISPID_OpenImage, {text(u"only one")}).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(invoke(d, DISPID_Style, {number(VT_I4, 1), number(VT_I4, 2)}).hr, DISP_E_BADPARAMCOUNT);
  Call mismatch = invoke(d, DISPID_FireEventThumbNav, {text(u"next")});
  EXPECT_EQ(mismatch.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(mismatch.argErr, 0u);
  EXPECT_EQ(invoke(d, DISPID_FireEventNewWin, {text(u"maybe")}).hr, DISP_E_TYPEMISMATCH);
  VARIANT danglingRef = typed(VT_BYREF | VT_BOOL);
  EXPECT_EQ(invoke(d, DISPID_FireEventNewWin, {danglingRef}).hr, DISP_E_TYPEMISMATCH);
  Call nullName = invoke(d, DISPID_OpenImage, {text(u"/x.png"), typed(VT_NULL)});
  EXPECT_EQ(nullName.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(nullName.argErr, 0u);  // the second parameter sits first in rgvarg
  EXPECT_EQ(invoke(d, DISPID_srcAppName, {typed(VT_ERROR, DISP_E_PARAMNOTFOUND)}).hr, DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(invokeRaw(d, DISPID_srcAppName, {text(u"x")}, {4}).hr, DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(invokeRaw(d, DISPID_OpenImage, {text(u"x"), text(u"y")}, {0, 0}).hr, DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(invokeRaw(d, DISPID_OpenImage, {text(u"x")}, {1}).hr, DISP_E_PARAMNOTOPTIONAL);
  DISPPARAMS broken{nullptr, nullptr, 1, 0};
  EXPECT_EQ(d->Invoke(DISPID_srcAppName, IID_NULL, 0, DISPATCH_METHOD, &broken, nullptr, nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(d->Invoke(DISPID_ShowForm, IID_IDispatch, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(view().sHostAppName, "Host");
  EXPECT_FALSE(kit::isFormLoaded("frmNavToolbar"));

  UINT count = 9;
  EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(app->Release(), 0u);
}

TEST_F(ComTest, RuntimeErrorsComeBackWithTheirNumberAndDescription) {
  IApplication* app = create();
  ASSERT_NE(app, nullptr);

  // Opening an image before ShowForm loads the toolbar with no event object: error 91.
  Call call = invoke(app, DISPID_OpenImage, {text(u"/nowhere/1.png"), text(u"one")});
  EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(call.scode, hresult(0x800A005B));
  EXPECT_EQ(call.description, "Object variable or With block variable not set");
  EXPECT_EQ(call.source, "Korvena");
  EXCEPINFO info{};
  EXPECT_EQ(KorvenaGetErrorInfo(&info), S_FALSE);  // Invoke handed it over already

  // Through the vtable: the result is the scode, the description waits for the host.
  ResetComponent();
  BSTR file = KorvenaAllocStringUtf8("/nowhere/1.png");
  EXPECT_EQ(app->OpenImage(file, file), hresult(0x800A005B));
  KorvenaFreeString(file);
  ASSERT_EQ(KorvenaGetErrorInfo(&info), S_OK);
  EXPECT_EQ(info.scode, hresult(0x800A005B));
  EXPECT_EQ(toUtf8(info.bstrDescription), "Object variable or With block variable not set");
  KorvenaExcepInfoClear(&info);

  // A number that does not fit 16 bits is the result itself: the store
  // refuses an empty application name when the toolbar saves its place.
  ResetComponent();
  EXPECT_EQ(invoke(app, DISPID_srcAppName, {text(u"")}).hr, S_OK);
  EXPECT_EQ(invoke(app, DISPID_Style, {text(u"pbMDILoading")}).hr, S_OK);
  EXPECT_EQ(app->ShowForm(), S_OK);
  call = invoke(app, DISPID_UnloadForm);
  EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(call.scode, hresult(0x800403E8));
  EXPECT_EQ(call.description, "AppName may not be empty");
  EXPECT_FALSE(kit::isFormLoaded("frmNavToolbar"));  // the unload itself completed

  // A Style argument with no text form fails inside the member: error 13.
  call = invoke(app, DISPID_Style, {typed(VT_NULL)});
  EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(call.scode, hresult(0x800A000D));
  EXPECT_EQ(call.description, "Type mismatch");
  VARIANT noText = typed(VT_NULL);
  DISPPARAMS params{&noText, nullptr, 1, 0};
  EXPECT_EQ(app->Invoke(DISPID_Style, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(app->Release(), 0u);
}

TEST_F(ComTest, ThumbNavReachesEverySinkAndTheHostAnswersWithOpenImage) {
  IApplication* app = create();
  ASSERT_NE(app, nullptr);
  IConnectionPointContainer* container = nullptr;
  ASSERT_EQ(app->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
  IConnectionPoint* point = nullptr;
  EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &point), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point, nullptr);
  ASSERT_EQ(container->FindConnectionPoint(DIID_ApplicationEvents, &point), S_OK);
  IID iid{};
  EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(iid == DIID_ApplicationEvents);
  IConnectionPointContainer* back = nullptr;
  ASSERT_EQ(point->GetConnectionPointContainer(&back), S_OK);
  EXPECT_EQ(back, container);
  back->Release();

  // The first sink is the host: it answers each request by opening an image,
  // and reports the end of its list for "last". The second only watches.
  Sink host, watcher;
  host.onThumbNav = [&](uint8_t direction, VARIANT_BOOL& firstLast) {
    BSTR name = KorvenaAllocStringUtf8(("image" + std::to_string(direction)).c_str());
    app->OpenImage(name, name);
    KorvenaFreeString(name);
    if (direction == MoveLast) firstLast = VARIANT_TRUE;
  };
  DWORD hostCookie = 0, watcherCookie = 0;
  ASSERT_EQ(point->Advise(&host, &hostCookie), S_OK);
  ASSERT_EQ(point->Advise(&watcher, &watcherCookie), S_OK);
  EXPECT_NE(hostCookie, watcherCookie);
  EXPECT_EQ(host.refs, 2u);

  EXPECT_EQ(invoke(app, DISPID_srcAppName, {text(u"Host")}).hr, S_OK);
  EXPECT_EQ(invoke(app, DISPID_Style, {text(u"pbMDILoading")}).hr, S_OK);
  EXPECT_EQ(app->ShowForm(), S_OK);

  // From the toolbar's button, as the user clicks it.
  NavToolbar().c().Toolbar.userClick("MoveNext");
  ASSERT_EQ(watcher.calls.size(), 1u);
  EXPECT_EQ(watcher.calls[0], std::make_pair(3, false));
  ASSERT_EQ(imageList().listCount(), 1);
  EXPECT_EQ(imageList().itemText(0), "image3");

  // Through the vtable and by dispatch id; the later sink sees the flag the earlier one set.
  VARIANT_BOOL result = VARIANT_FALSE;
  EXPECT_EQ(app->FireEventThumbNav(MoveLast, &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(watcher.calls.back(), std::make_pair(static_cast<int>(MoveLast), true));
  Call call = invoke(app, DISPID_FireEventThumbNav, {number(VT_UI1, MoveFirst)});
  EXPECT_EQ(call.resultType, VT_BOOL);
  EXPECT_EQ(call.resultBool, VARIANT_FALSE);
  EXPECT_EQ(host.calls.size(), 3u);
  EXPECT_EQ(imageList().itemText(0), "image1");

  // Advise and unadvise failures.
  Sink plain;
  plain.dispatchCapable = false;
  DWORD cookie = 7;
  EXPECT_EQ(point->Advise(&plain, &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(plain.refs, 1u);
  EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);

  // Without the host only the watcher hears, and nobody reports an end.
  EXPECT_EQ(point->Unadvise(hostCookie), S_OK);
  EXPECT_EQ(host.refs, 1u);
  EXPECT_EQ(point->Unadvise(hostCookie), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(app->FireEventThumbNav(MoveLast, &result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(host.calls.size(), 3u);
  EXPECT_EQ(watcher.calls.size(), 4u);

  // A sink that leaves during its own event does not disturb the others.
  Sink leaving;
  DWORD leavingCookie = 0;
  leaving.onThumbNav = [&](uint8_t, VARIANT_BOOL&) { point->Unadvise(leavingCookie); };
  ASSERT_EQ(point->Advise(&leaving, &leavingCookie), S_OK);
  EXPECT_EQ(point->Advise(&host, &hostCookie), S_OK);
  EXPECT_EQ(app->FireEventThumbNav(MoveLast, &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(leaving.calls.size(), 1u);
  EXPECT_EQ(leaving.refs, 1u);
  EXPECT_FALSE(host.malformed || watcher.malformed || leaving.malformed);

  // The last release lets go of the remaining sinks.
  point->Release();
  container->Release();
  EXPECT_EQ(server_->canUnloadNow(), S_FALSE);
  EXPECT_EQ(app->Release(), 0u);
  EXPECT_EQ(watcher.refs, 1u);
  EXPECT_EQ(host.refs, 1u);
  EXPECT_EQ(server_->canUnloadNow(), S_FALSE);  // the toolbar and the photo windows stand
}

TEST_F(ComTest, PredeclaredInstanceIsOneObjectThatTheToolbarDoesNotKeepAlive) {
  IApplication* first = nullptr;
  IDispatch* second = nullptr;
  ASSERT_EQ(server_->applicationObject(IID_Application, reinterpret_cast<void**>(&first)), S_OK);
  ASSERT_EQ(server_->applicationObject(IID_IDispatch, reinterpret_cast<void**>(&second)), S_OK);
  EXPECT_EQ(static_cast<IDispatch*>(first), second);
  void* none = &none;
  EXPECT_EQ(server_->applicationObject(IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(server_->applicationObject(IID_IUnknown, nullptr), E_POINTER);

  // A created object is another one.
  IApplication* created = create();
  EXPECT_NE(created, first);
  created->Release();

  EXPECT_EQ(invoke(first, DISPID_Style, {text(u"pbMDILoading")}).hr, S_OK);
  EXPECT_EQ(first->ShowForm(), S_OK);
  ASSERT_NE(NavToolbar().eventObject(), nullptr);
  EXPECT_EQ(second->Release(), 1u);
  EXPECT_EQ(server_->canUnloadNow(), S_FALSE);
  EXPECT_EQ(first->Release(), 0u);
  // The toolbar still stands but holds no object; the library stays while it does.
  EXPECT_TRUE(kit::isFormLoaded("frmNavToolbar"));
  EXPECT_EQ(NavToolbar().eventObject(), nullptr);
  EXPECT_EQ(server_->canUnloadNow(), S_FALSE);
  NavToolbar().unload(1);
  EXPECT_EQ(server_->canUnloadNow(), S_OK);

  // Asked again, a fresh default object.
  ASSERT_EQ(server_->applicationObject(IID_Application, reinterpret_cast<void**>(&first)), S_OK);
  EXPECT_EQ(first->Release(), 0u);
}

// The server is single-threaded: two threads that each make and drive their
// own objects are each either served or refused with RPC_E_WRONG_THREAD while
// the other's objects or windows are alive, never both at once, never a fault.
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
      BSTR name = KorvenaAllocStringUtf8("Host");
      VARIANT style = text(u"pbMDILoading");
      const bool ok = hr == S_OK && app->srcAppName(name) == S_OK && app->Style(style) == S_OK &&
                      app->ShowForm() == S_OK && app->FireEventThumbNav(MoveNext, &last) == S_OK &&
                      app->UnloadForm() == S_OK;
      KorvenaFreeString(name);
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

  // An object answers only the thread that made it; while it lives no other
  // thread gets one.
  IApplication* app = create();
  ASSERT_NE(app, nullptr);
  std::thread([&] {
    VARIANT_BOOL last = VARIANT_FALSE;
    EXPECT_EQ(app->FireEventThumbNav(MoveNext, &last), RPC_E_WRONG_THREAD);
    EXPECT_EQ(invoke(app, DISPID_ShowForm).hr, RPC_E_WRONG_THREAD);
    void* other = nullptr;
    EXPECT_EQ(KorvenaGetApplicationObject(IID_IDispatch, &other), RPC_E_WRONG_THREAD);
  }).join();
  EXPECT_FALSE(kit::isFormLoaded("frmNavToolbar"));
  EXPECT_EQ(app->Release(), 0u);
}

TEST(ComStrings, LengthPrefixedStringsAndTheirConversions) {
  BSTR s = KorvenaAllocStringLen(u"a\0b", 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(KorvenaStringLen(s), 3u);
  uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<const char*>(s) - 4, 4);
  EXPECT_EQ(prefix, 6u);
  EXPECT_EQ(s[1], u'\0');
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

  BSTR wide = KorvenaAllocStringUtf8("\xC3\x86r\xC3\xB8 \xF0\x9F\x93\xB7");
  EXPECT_EQ(std::u16string(wide, KorvenaStringLen(wide)), u"\u00C6r\u00F8 \U0001F4F7");
  EXPECT_EQ(toUtf8(wide), "\xC3\x86r\xC3\xB8 \xF0\x9F\x93\xB7");
  KorvenaFreeString(wide);
  // Malformed input of either kind becomes U+FFFD, one for each bad unit.
  EXPECT_EQ(toUtf16("a\xFF" "b\xC0\xAF" "\xED\xA0\x80"), u"a\uFFFDb\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(toUtf16("\xE2\x82"), u"\uFFFD\uFFFD");
  const char16_t lone[] = {u'x', 0xD83D, u'y', 0xDC37, 0};
  EXPECT_EQ(toUtf8(std::u16string_view(lone)), "x\xEF\xBF\xBDy\xEF\xBF\xBD");

  VARIANT v = text(u"owned");
  KorvenaVariantClear(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(v.bstrVal, nullptr);
  KorvenaVariantClear(nullptr);
  EXPECT_EQ(sizeof(VARIANT), 8 + 2 * sizeof(void*));
}

}  // namespace
}  // namespace korvena
