// A tiny host of the installed component. It drives the component on the
// headless platform through the C++ class and through the binary interface,
// and prints "host ok" when every answer was the expected one.
#include <korvena/Application.h>
#include <korvena/com.h>

#include <cstdio>
#include <string>

namespace {

int failures = 0;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "FAILED: %s\n", what);
  ++failures;
}

void throughTheClass() {
  korvena::Application app;
  int asked = 0;
  app.setThumbNavHandler([&](uint8_t direction, bool& firstLast) {
    asked = direction;
    firstLast = direction == korvena::MoveLast;
  });
  app.srcAppName("PackageHost");
  app.Style("pbMDILoading");
  app.ShowForm();
  check(!app.FireEventThumbNav(korvena::MoveNext) && asked == korvena::MoveNext, "ThumbNav next");
  check(app.FireEventThumbNav(korvena::MoveLast), "ThumbNav last reports the end");
  app.UnloadForm();
}

void throughTheBinaryInterface() {
  using namespace korvena::com;
  IClassFactory* factory = nullptr;
  check(DllGetClassObject(CLSID_Application, IID_IClassFactory, reinterpret_cast<void**>(&factory)) == S_OK,
        "class factory");
  if (!factory) return;
  IDispatch* app = nullptr;
  check(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&app)) == S_OK, "object");
  factory->Release();
  if (!app) return;

  std::u16string name = u"fireEventThumbNav";
  OLECHAR* names[] = {name.data()};
  DISPID id = 0;
  check(app->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id) == S_OK && id == DISPID_FireEventThumbNav, "name");
  VARIANT arg{};
  arg.vt = VT_BSTR;
  arg.bstrVal = KorvenaAllocStringUtf8("4");
  DISPPARAMS params{&arg, nullptr, 1, 0};
  VARIANT result{};
  check(app->Invoke(id, IID_NULL, 0x409, DISPATCH_METHOD, &params, &result, nullptr, nullptr) == S_OK &&
            result.vt == VT_BOOL && result.boolVal == VARIANT_FALSE,
        "Invoke with no sink");
  KorvenaVariantClear(&arg);
  check(DllCanUnloadNow() == S_FALSE, "object alive");
  app->Release();
  check(DllCanUnloadNow() == S_OK, "all released");
}

}  // namespace

int main() {
  try {
    throughTheClass();
    throughTheBinaryInterface();
  } catch (const korvena::RuntimeError& e) {
    std::fprintf(stderr, "runtime error %ld: %s\n", e.number(), e.description().c_str());
    ++failures;
  }
  std::puts(failures ? "host failed" : "host ok");
  return failures ? 1 : 0;
}
