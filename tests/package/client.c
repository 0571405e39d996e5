/* A host written in C. It loads the library with dlopen by a relative name,
   registers it in a scratch settings store, and drives it through com.h
   only: the factory, the interfaces and their counts, late binding with
   coercions and errors, the connection points with a sink written in C, the
   unload rules; then it closes the library, checks that it is gone and loads
   it again.
     korvena-c-client LIBRARY STORE-FOLDER
   Prints "client ok" when every answer was the expected one. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "korvena/com.h"

static int failures;
#define CHECK(condition) check((condition), #condition, __LINE__)
static void check(int ok, const char* what, int line) {
  if (ok) return;
  fprintf(stderr, "client.c:%d: FAILED: %s\n", line, what);
  ++failures;
}

/* The entry points as the host resolves them. */
typedef struct Server {
  void* handle;
  HRESULT (*getClassObject)(REFCLSID, REFIID, void**);
  HRESULT (*canUnloadNow)(void);
  HRESULT (*registerServer)(void);
  HRESULT (*unregisterServer)(void);
  BSTR (*allocUtf8)(const char*);
  void (*variantClear)(VARIANT*);
} Server;

static int load(Server* s, const char* path) {
  memset(s, 0, sizeof *s);
  s->handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!s->handle) {
    fprintf(stderr, "dlopen %s: %s\n", path, dlerror());
    return 0;
  }
  *(void**)&s->getClassObject = dlsym(s->handle, "DllGetClassObject");
  *(void**)&s->canUnloadNow = dlsym(s->handle, "DllCanUnloadNow");
  *(void**)&s->registerServer = dlsym(s->handle, "DllRegisterServer");
  *(void**)&s->unregisterServer = dlsym(s->handle, "DllUnregisterServer");
  *(void**)&s->allocUtf8 = dlsym(s->handle, "KorvenaAllocStringUtf8");
  *(void**)&s->variantClear = dlsym(s->handle, "KorvenaVariantClear");
  return s->getClassObject && s->canUnloadNow && s->registerServer && s->unregisterServer && s->allocUtf8 &&
         s->variantClear;
}

static IApplication* create(Server* s) {
  IClassFactory* factory = NULL;
  IApplication* app = NULL;
  if (s->getClassObject(&CLSID_Application, &IID_IClassFactory, (void**)&factory) != S_OK) return NULL;
  CHECK(factory->lpVtbl->CreateInstance(factory, NULL, &IID_Application, (void**)&app) == S_OK);
  factory->lpVtbl->Release(factory);
  return app;
}

/* ---- A sink written in C: counts ThumbNav and reports the end for "last". */
typedef struct Sink {
  IDispatch base;
  ULONG refs;
  int calls;
  int direction;
  int malformed;
} Sink;

static HRESULT sinkQueryInterface(IDispatch* self, REFIID riid, void** out) {
  if (IsEqualGUID(riid, &IID_IUnknown) || IsEqualGUID(riid, &IID_IDispatch) ||
      IsEqualGUID(riid, &DIID_ApplicationEvents)) {
    *out = self;
    self->lpVtbl->AddRef(self);
    return S_OK;
  }
  *out = NULL;
  return E_NOINTERFACE;
}
static ULONG sinkAddRef(IDispatch* self) { return ++((Sink*)self)->refs; }
static ULONG sinkRelease(IDispatch* self) { return --((Sink*)self)->refs; }
static HRESULT sinkGetTypeInfoCount(IDispatch* self, UINT* count) { return (void)self, *count = 0, S_OK; }
static HRESULT sinkGetTypeInfo(IDispatch* self, UINT index, LCID lcid, struct ITypeInfo** info) {
  return (void)self, (void)index, (void)lcid, *info = NULL, E_NOTIMPL;
}
static HRESULT sinkGetIDsOfNames(IDispatch* self, REFIID riid, OLECHAR** names, UINT count, LCID lcid, DISPID* ids) {
  return (void)self, (void)riid, (void)names, (void)count, (void)lcid, (void)ids, E_NOTIMPL;
}
static HRESULT sinkInvoke(IDispatch* self, DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO* excep, UINT* argErr) {
  Sink* sink = (Sink*)self;
  (void)riid, (void)lcid, (void)flags, (void)result, (void)excep, (void)argErr;
  if (id != DISPID_ThumbNav || !params || params->cArgs != 2 || params->rgvarg[1].vt != VT_UI1 ||
      params->rgvarg[0].vt != (VT_BYREF | VT_BOOL)) {
    sink->malformed = 1;
    return DISP_E_BADPARAMCOUNT;
  }
  sink->calls++;
  sink->direction = params->rgvarg[1].bVal;
  if (sink->direction == 4) *params->rgvarg[0].pboolVal = VARIANT_TRUE;
  return S_OK;
}
static const IDispatchVtbl kSinkVtbl = {sinkQueryInterface, sinkAddRef,        sinkRelease, sinkGetTypeInfoCount,
                                        sinkGetTypeInfo,    sinkGetIDsOfNames, sinkInvoke};

/* ---- Late binding */
static VARIANT number(VARTYPE vt, double value) {
  VARIANT v;
  memset(&v, 0, sizeof v);
  v.vt = vt;
  switch (vt) {
    case VT_R8:
      v.dblVal = value;
      break;
    case VT_R4:
      v.fltVal = (float)value;
      break;
    case VT_I4:
      v.lVal = (int32_t)value;
      break;
    case VT_CY:
      v.cyVal.int64 = (int64_t)(value * 10000);
      break;
    default:
      break;
  }
  return v;
}

/* Calls a method with its arguments in rgvarg order; frees string arguments. */
static HRESULT invoke(Server* s, IDispatch* d, DISPID id, VARIANT* args, UINT count) {
  DISPPARAMS params = {args, NULL, count, 0};
  VARIANT result;
  UINT argErr = 0;
  HRESULT hr;
  memset(&result, 0, sizeof result);
  hr = d->lpVtbl->Invoke(d, id, &IID_NULL, 0x409, DISPATCH_METHOD, &params, &result, NULL, &argErr);
  s->variantClear(&result);
  for (UINT i = 0; i < count; ++i) s->variantClear(&args[i]);
  return hr;
}
static HRESULT invokeText(Server* s, IDispatch* d, DISPID id, const char* text) {
  VARIANT arg;
  memset(&arg, 0, sizeof arg);
  arg.vt = VT_BSTR;
  arg.bstrVal = s->allocUtf8(text);
  return invoke(s, d, id, &arg, 1);
}

static void lateBinding(Server* s, IApplication* app, Sink* sink) {
  IDispatch* d = (IDispatch*)app;
  /* The byte parameter as VariantChangeType coerces it: the direction the sink hears. */
  {
    float real = 2.5f;
    VARIANT inner = number(VT_R4, 3.0), r4 = number(VT_R4 | VT_BYREF, 0), i4 = number(VT_I4 | VT_BYREF, 0),
            variant = number(VT_VARIANT | VT_BYREF, 0);
    int32_t whole = 4;
    struct {
      VARIANT arg;
      HRESULT hr;
      int direction;
    } cases[] = {{number(VT_R8, 3.0), S_OK, 3},
                 {number(VT_R8, 2.5), S_OK, 2} /* half to even */,
                 {number(VT_R8, 3.5), S_OK, 4},
                 {number(VT_CY, 1.0), S_OK, 1},
                 {number(VT_R8, 255.6), DISP_E_OVERFLOW, 0},
                 {number(VT_I4, -1), DISP_E_OVERFLOW, 0},
                 {r4, S_OK, 2},
                 {i4, S_OK, 4},
                 {variant, S_OK, 3},
                 {number(VT_NULL, 0), DISP_E_TYPEMISMATCH, 0}};
    size_t n = sizeof cases / sizeof cases[0];
    cases[6].arg.pfltVal = &real, cases[7].arg.plVal = &whole, cases[8].arg.pvarVal = &inner;
    for (size_t i = 0; i < n; ++i) {
      sink->direction = 0;
      if (invoke(s, d, DISPID_FireEventThumbNav, &cases[i].arg, 1) != cases[i].hr ||
          sink->direction != cases[i].direction) {
        fprintf(stderr, "coercion case %zu: direction %d\n", i, sink->direction);
        CHECK(0);
      }
    }
  }
  CHECK(invokeText(s, d, DISPID_FireEventThumbNav, " 1e0 ") == S_OK && sink->direction == 1);
  CHECK(invokeText(s, d, DISPID_FireEventThumbNav, "1e3") == DISP_E_OVERFLOW);
  {
    VARIANT flag = number(VT_R8, 3.0);
    CHECK(invoke(s, d, DISPID_FireEventNewWin, &flag, 1) == S_OK);
  }
}

/* ---- Connection points */
static void connectionPoints(IApplication* app, IConnectionPoint** found) {
  IConnectionPointContainer* container = NULL;
  IEnumConnectionPoints *points = NULL, *clone = NULL;
  IConnectionPoint* got[2] = {NULL, NULL};
  ULONG fetched = 9;
  IID iid;
  CHECK(app->lpVtbl->QueryInterface(app, &IID_IConnectionPointContainer, (void**)&container) == S_OK);
  if (!container) return;
  CHECK(container->lpVtbl->EnumConnectionPoints(container, NULL) == E_POINTER);
  CHECK(container->lpVtbl->EnumConnectionPoints(container, &points) == S_OK);
  CHECK(points->lpVtbl->Next(points, 2, got, &fetched) == S_FALSE && fetched == 1 && got[0]);
  CHECK(got[0]->lpVtbl->GetConnectionInterface(got[0], &iid) == S_OK && IsEqualGUID(&iid, &DIID_ApplicationEvents));
  CHECK(points->lpVtbl->Next(points, 1, got + 1, &fetched) == S_FALSE && fetched == 0);
  CHECK(points->lpVtbl->Next(points, 2, got + 1, NULL) == E_POINTER);
  CHECK(points->lpVtbl->Reset(points) == S_OK);
  CHECK(points->lpVtbl->Skip(points, 1) == S_OK);
  CHECK(points->lpVtbl->Skip(points, 1) == S_FALSE);
  CHECK(points->lpVtbl->Reset(points) == S_OK);
  CHECK(points->lpVtbl->Clone(points, &clone) == S_OK);
  CHECK(points->lpVtbl->Release(points) == 0);
  CHECK(clone->lpVtbl->Next(clone, 1, got + 1, NULL) == S_OK && got[1] == got[0]);
  CHECK(clone->lpVtbl->Release(clone) == 0);
  got[1]->lpVtbl->Release(got[1]);
  *found = got[0];
  container->lpVtbl->Release(container);
}

static void classInfo(IApplication* app) {
  IProvideClassInfo2* info = NULL;
  GUID events;
  CHECK(app->lpVtbl->QueryInterface(app, &IID_IProvideClassInfo2, (void**)&info) == S_OK);
  if (!info) return;
  CHECK(info->lpVtbl->GetGUID(info, GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events) == S_OK &&
        IsEqualGUID(&events, &DIID_ApplicationEvents));
  CHECK(info->lpVtbl->GetGUID(info, 7, &events) == E_INVALIDARG);
  CHECK(info->lpVtbl->GetGUID(info, GUIDKIND_DEFAULT_SOURCE_DISP_IID, NULL) == E_POINTER);
  info->lpVtbl->Release(info);
}

static char* readFile(const char* path) {
  FILE* f = fopen(path, "rb");
  char* text = calloc(1, 1 << 16);
  if (f && text) fread(text, 1, (1 << 16) - 1, f);
  if (f) fclose(f);
  return text;
}

/* ---- The library loaded headless. */
static void headless(const char* library, const char* store) {
  char folder[PATH_MAX], real[PATH_MAX], storeFile[PATH_MAX + 32], expected[PATH_MAX + 8], here[PATH_MAX];
  const char* slash = strrchr(library, '/');
  Server s;
  IApplication* app;
  IConnectionPoint* point = NULL;
  Sink sink = {{&kSinkVtbl}, 1, 0, 0, 0};
  DWORD cookie = 0;
  VARIANT_BOOL last = VARIANT_FALSE;
  char* text;
  FILE* seed;
  /* Loaded by a relative name from the library's folder; the host then moves elsewhere. */
  CHECK(realpath(library, real) != NULL && getcwd(here, sizeof here) != NULL);
  snprintf(folder, sizeof folder, "%.*s", slash ? (int)(slash - library) : 1, slash ? library : ".");
  CHECK(chdir(folder) == 0);
  snprintf(expected, sizeof expected, "./%s", slash ? slash + 1 : library);
  if (!load(&s, expected)) {
    CHECK(0);
    return;
  }
  CHECK(chdir("/") == 0);
  /* Registration: the real absolute path; unregistering keeps what others wrote. */
  snprintf(storeFile, sizeof storeFile, "%s/HKEY_LOCAL_MACHINE.reg", store);
  seed = fopen(storeFile, "w");
  if (seed) {
    fputs(
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\TypeLib\\{765388F0-DE68-49EF-9C44-0F6B5B078D92}"
        "\\2.0]\n@=\"Korvena\"\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Korvena.Application\\CurVer]\n"
        "@=\"Korvena.Application.2\"\n",
        seed);
    fclose(seed);
  }
  CHECK(s.registerServer() == S_OK);
  text = readFile(storeFile);
  snprintf(expected, sizeof expected, "@=\"%s\"", real);
  CHECK(strstr(text, expected) != NULL);
  CHECK(strstr(text, "ThreadingModel") == NULL && strstr(text, "\\Interface\\") == NULL);
  free(text);
  CHECK(s.unregisterServer() == S_OK);
  text = readFile(storeFile);
  CHECK(strstr(text, "{A8F47407") == NULL && strstr(text, "Clsid") == NULL);
  CHECK(strstr(text, "\\2.0]") != NULL && strstr(text, "\\CurVer]") != NULL);
  free(text);
  /* The factory, interfaces and counts. */
  {
    IClassFactory* factory = NULL;
    void* none = &none;
    IDispatch* d = NULL;
    CHECK(s.getClassObject(&IID_IDispatch, &IID_IClassFactory, &none) == CLASS_E_CLASSNOTAVAILABLE && !none);
    CHECK(s.getClassObject(&CLSID_Application, &IID_IClassFactory, (void**)&factory) == S_OK);
    CHECK(factory->lpVtbl->CreateInstance(factory, (IUnknown*)factory, &IID_IUnknown, &none) == CLASS_E_NOAGGREGATION);
    CHECK(factory->lpVtbl->LockServer(factory, 1) == S_OK);
    CHECK(factory->lpVtbl->Release(factory) == 0);
    CHECK(s.canUnloadNow() == S_FALSE); /* the lock */
    CHECK(s.getClassObject(&CLSID_Application, &IID_IClassFactory, (void**)&factory) == S_OK);
    factory->lpVtbl->LockServer(factory, 0);
    factory->lpVtbl->Release(factory);
    CHECK(s.canUnloadNow() == S_OK);
    app = create(&s);
    if (!app) return;
    CHECK(app->lpVtbl->QueryInterface(app, &IID_IDispatch, (void**)&d) == S_OK && (void*)d == (void*)app);
    CHECK(app->lpVtbl->QueryInterface(app, &IID_IClassFactory, &none) == E_NOINTERFACE && !none);
    CHECK(app->lpVtbl->AddRef(app) == 3);
    CHECK(app->lpVtbl->Release(app) == 2);
    CHECK(d->lpVtbl->Release(d) == 1);
  }
  connectionPoints(app, &point);
  classInfo(app);
  if (point) {
    CHECK(point->lpVtbl->Advise(point, (IUnknown*)&sink, &cookie) == S_OK && sink.refs == 2);
    CHECK(app->lpVtbl->FireEventThumbNav(app, 4, &last) == S_OK && last == VARIANT_TRUE && sink.direction == 4);
    lateBinding(&s, app, &sink);
    CHECK(point->lpVtbl->Unadvise(point, cookie) == S_OK && sink.refs == 1);
    CHECK(point->lpVtbl->Unadvise(point, cookie) == CONNECT_E_NOCONNECTION);
    sink.calls = 0;
    CHECK(app->lpVtbl->FireEventThumbNav(app, 4, &last) == S_OK && last == VARIANT_FALSE && sink.calls == 0);
    point->lpVtbl->Release(point);
  }
  CHECK(sink.malformed == 0);
  /* A loaded window keeps the library, with or without an object. */
  CHECK(invokeText(&s, (IDispatch*)app, DISPID_srcAppName, "CClient") == S_OK);
  CHECK(invokeText(&s, (IDispatch*)app, DISPID_Style, "pbMDILoading") == S_OK);
  CHECK(app->lpVtbl->ShowForm(app) == S_OK);
  CHECK(app->lpVtbl->Release(app) == 0);
  CHECK(s.canUnloadNow() == S_FALSE);
  app = create(&s);
  if (app) {
    CHECK(app->lpVtbl->UnloadForm(app) == S_OK);
    CHECK(s.canUnloadNow() == S_FALSE);
    CHECK(app->lpVtbl->Release(app) == 0);
  }
  CHECK(s.canUnloadNow() == S_OK);
  /* Closed, the library is gone; loaded again, it starts clean. */
  CHECK(dlclose(s.handle) == 0);
  CHECK(dlopen(real, RTLD_NOW | RTLD_NOLOAD) == NULL);
  CHECK(chdir(here) == 0);
  if (load(&s, real)) {
    CHECK(s.canUnloadNow() == S_OK);
    app = create(&s);
    CHECK(app && app->lpVtbl->Release(app) == 0);
    CHECK(dlclose(s.handle) == 0);
  }
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: korvena-c-client LIBRARY STORE-FOLDER\n");
    return 2;
  }
  mkdir(argv[2], 0700); /* the scratch store; it may be there from an earlier run */
  setenv("KORVENA_REGISTRY_DIR", argv[2], 1);
  headless(argv[1], argv[2]);
  puts(failures ? "client failed" : "client ok");
  return failures ? 1 : 0;
}
