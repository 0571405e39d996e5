// A tiny host of the installed component: the headless platform driven
// through the C++ class and the binary interface. Prints "host ok" when
// every answer was the expected one.
#include <korvena/Application.h>
#include <korvena/com.h>

#include <cstdio>

int main() {
  int failures = 0;
  auto check = [&](bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  };
  try {
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
  } catch (const korvena::RuntimeError& e) {
    std::fprintf(stderr, "runtime error %ld: %s\n", e.number(), e.description().c_str());
    ++failures;
  }
  using namespace korvena::com;
  IClassFactory* factory = nullptr;
  IApplication* app = nullptr;
  check(DllGetClassObject(CLSID_Application, IID_IClassFactory, reinterpret_cast<void**>(&factory)) == S_OK &&
            factory->CreateInstance(nullptr, IID_Application, reinterpret_cast<void**>(&app)) == S_OK,
        "object");
  if (factory) factory->Release();
  if (app) {
    VARIANT_BOOL last = VARIANT_TRUE;
    check(app->FireEventThumbNav(korvena::MoveNext, &last) == S_OK && last == VARIANT_FALSE, "ThumbNav with no sink");
    check(DllCanUnloadNow() == S_FALSE, "object alive");
    app->Release();
    check(DllCanUnloadNow() == S_OK, "all released");
  }
  std::puts(failures ? "host failed" : "host ok");
  return failures ? 1 : 0;
}
