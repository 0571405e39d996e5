// A tiny host of the installed component. It drives the component on the
// headless platform through the C++ class and through the binary interface,
// and prints "host ok" when every answer was the expected one.
#include <korvena/Application.h>
#include <korvena/com.h>

#include <cstdio>

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
  IApplication* app = nullptr;
  check(factory->CreateInstance(nullptr, IID_Application, reinterpret_cast<void**>(&app)) == S_OK, "object");
  factory->Release();
  if (!app) return;

  VARIANT_BOOL last = VARIANT_TRUE;
  check(app->FireEventThumbNav(korvena::MoveNext, &last) == S_OK && last == VARIANT_FALSE, "ThumbNav with no sink");
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
