#ifndef KORVENA_COM_H
#define KORVENA_COM_H
/* The component's binary interface: the in-process server entry points, the
   interfaces of the Application class in COM's vtable order, and the small
   set of automation types they use. No COM runtime is needed: a host loads
   the library, resolves the entry points and calls through the vtables.

   The header serves C and C++. In C++ everything is in korvena::com and the
   interfaces are structs of pure virtual functions (no virtual destructor: it
   would take vtable slots). In C each interface is a struct whose lpVtbl
   points at a table of functions taking the object first:
       app->lpVtbl->ShowForm(app);
   Both views describe the same objects; objects are released with Release(),
   never deleted. */
#include "korvena/Export.h"

#ifdef __cplusplus
#include <cstdint>
#include <cstdio>
#include <string>
#define KORVENA_COM(name) korvena::com::name
namespace korvena::com {
#else
#include <stdint.h>
#include <string.h>
#define KORVENA_COM(name) name
#endif

typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef uint16_t WORD;
typedef int32_t BOOL;
typedef uint32_t LCID;
typedef int32_t DISPID;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL; /* True is -1, False is 0 */
#ifdef __cplusplus
typedef char16_t OLECHAR;
#else
typedef uint16_t OLECHAR; /* a UTF-16 code unit */
#endif
/* A length-prefixed UTF-16 string: the 32-bit byte length sits just before
   the first character and a terminating zero follows the last. Allocated and
   freed only by KorvenaAllocString* and KorvenaFreeString. A null string is
   an empty one. */
typedef OLECHAR* BSTR;
typedef double DATE;
typedef struct tagCY {
  int64_t int64; /* the amount times 10000 */
} CY;

typedef struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;
#ifdef __cplusplus
typedef const GUID& REFGUID;
#else
typedef const GUID* REFGUID;
#endif
typedef REFGUID REFIID;
typedef REFGUID REFCLSID;

/* Results, dispatch ids, flags and variant types: one list for both languages. */
#define KORVENA_COM_RESULTS(X)                                                                                         \
  X(S_OK, 0x00000000)                                                                                                  \
  X(S_FALSE, 0x00000001) X(E_NOTIMPL, 0x80004001) X(E_NOINTERFACE, 0x80004002) X(E_POINTER, 0x80004003)                \
      X(E_FAIL, 0x80004005) X(E_UNEXPECTED, 0x8000FFFF) X(E_OUTOFMEMORY, 0x8007000E) X(E_INVALIDARG, 0x80070057)       \
          X(DISP_E_UNKNOWNINTERFACE, 0x80020001) X(DISP_E_MEMBERNOTFOUND, 0x80020003)                                  \
              X(DISP_E_PARAMNOTFOUND, 0x80020004) X(DISP_E_TYPEMISMATCH, 0x80020005) X(DISP_E_UNKNOWNNAME, 0x80020006) \
                  X(DISP_E_NONAMEDARGS, 0x80020007) X(DISP_E_EXCEPTION, 0x80020009) X(DISP_E_OVERFLOW, 0x8002000A)     \
                      X(DISP_E_BADINDEX, 0x8002000B) X(DISP_E_BADPARAMCOUNT, 0x8002000E)                               \
                          X(DISP_E_PARAMNOTOPTIONAL, 0x8002000F) X(CLASS_E_NOAGGREGATION, 0x80040110)                  \
                              X(CLASS_E_CLASSNOTAVAILABLE, 0x80040111) X(CONNECT_E_NOCONNECTION, 0x80040200) X(        \
                                  CONNECT_E_CANNOTCONNECT,                                                             \
                                  0x80040202) /* A call on an object from a thread other than the one that made it. */ \
      X(RPC_E_WRONG_THREAD, 0x8001010E)
#define KORVENA_COM_NUMBERS(X)                                                                                      \
  /* Dispatch ids of _Application, in slot order, and of the event. */                                              \
  X(DISPID, DISPID_ShowForm, 0x60030001)                                                                            \
  X(DISPID, DISPID_FireEventThumbNav, 0x60030002) X(DISPID, DISPID_FireEventNewWin, 0x60030003)                     \
      X(DISPID, DISPID_UnloadForm, 0x60030004) X(DISPID, DISPID_Style, 0x60030005)                                  \
          X(DISPID, DISPID_srcAppName, 0x60030006) X(DISPID, DISPID_OpenImage, 0x60030007)                          \
              X(DISPID, DISPID_ThumbNav, 1) X(DISPID, DISPID_UNKNOWN, -1) X(WORD, DISPATCH_METHOD, 1)               \
                  X(WORD, DISPATCH_PROPERTYGET, 2) X(WORD, DISPATCH_PROPERTYPUT, 4)                                 \
                      X(WORD, DISPATCH_PROPERTYPUTREF, 8)                                                           \
                          X(DWORD, GUIDKIND_DEFAULT_SOURCE_DISP_IID,                                                \
                            1) /* Variant types this component reads and writes. An omitted optional                \
                                  argument is VT_ERROR with scode DISP_E_PARAMNOTFOUND. */                          \
      X(VARTYPE, VT_EMPTY, 0) X(VARTYPE, VT_NULL, 1) X(VARTYPE, VT_I2, 2) X(VARTYPE, VT_I4, 3) X(VARTYPE, VT_R4, 4) \
          X(VARTYPE, VT_R8, 5) X(VARTYPE, VT_CY, 6) X(VARTYPE, VT_DATE, 7) X(VARTYPE, VT_BSTR, 8)                   \
              X(VARTYPE, VT_ERROR, 10) X(VARTYPE, VT_BOOL, 11) X(VARTYPE, VT_VARIANT, 12) X(VARTYPE, VT_I1, 16)     \
                  X(VARTYPE, VT_UI1, 17) X(VARTYPE, VT_UI2, 18) X(VARTYPE, VT_UI4, 19) X(VARTYPE, VT_I8, 20)        \
                      X(VARTYPE, VT_UI8, 21) X(VARTYPE, VT_INT, 22) X(VARTYPE, VT_UINT, 23)                         \
                          X(VARTYPE, VT_BYREF, 0x4000) X(VARIANT_BOOL, VARIANT_TRUE, -1)                            \
                              X(VARIANT_BOOL, VARIANT_FALSE, 0)

#define KORVENA_COM_GUIDS(X)                                                                                   \
  X(IID_NULL, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0)                                                                 \
  X(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)                                    \
  X(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)                               \
  X(IID_IDispatch, 0x00020400, 0x0000, 0x0000, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)                                   \
  X(IID_IProvideClassInfo, 0xB196B283, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07)         \
  X(IID_IConnectionPointContainer, 0xB196B284, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07) \
  X(IID_IEnumConnectionPoints, 0xB196B285, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07)     \
  X(IID_IConnectionPoint, 0xB196B286, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07)          \
  X(IID_IProvideClassInfo2, 0xA6BC3AC0, 0xDBAA, 0x11CE, 0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51)        \
  /* The type library "Korvena" 1.0, locale 0x409: its identity. No type library file is served, so */         \
  /* none is registered. */                                                                                    \
  X(LIBID_Korvena, 0x765388F0, 0xDE68, 0x49EF, 0x9C, 0x44, 0x0F, 0x6B, 0x5B, 0x07, 0x8D, 0x92)                 \
  /* The class Application. */                                                                                 \
  X(CLSID_Application, 0xA8F47407, 0xDA0A, 0x4DAD, 0x8C, 0xB7, 0xD8, 0x88, 0x39, 0x79, 0x35, 0x03)             \
  /* Its default dual interface "_Application". */                                                             \
  X(IID_Application, 0xDA738908, 0xFDF4, 0x43B0, 0x83, 0x07, 0xFD, 0x9A, 0x95, 0xB4, 0x1B, 0x77)               \
  /* Its dispatch-only event interface "__Application". */                                                     \
  X(DIID_ApplicationEvents, 0xD094BF5F, 0xF763, 0x43B2, 0x9B, 0x53, 0xE7, 0xD7, 0x46, 0xD0, 0x03, 0x42)

#ifdef __cplusplus
inline constexpr HRESULT hresult(uint32_t code) { return static_cast<HRESULT>(code); }
#define KORVENA_COM_X(name, code) inline constexpr HRESULT name = hresult(code##u);
KORVENA_COM_RESULTS(KORVENA_COM_X)
#undef KORVENA_COM_X
#define KORVENA_COM_X(type, name, value) inline constexpr type name = static_cast<type>(value);
KORVENA_COM_NUMBERS(KORVENA_COM_X)
#undef KORVENA_COM_X
#define KORVENA_COM_X(name, d1, d2, d3, b0, b1, b2, b3, b4, b5, b6, b7) \
  inline constexpr GUID name{d1, d2, d3, {b0, b1, b2, b3, b4, b5, b6, b7}};
KORVENA_COM_GUIDS(KORVENA_COM_X)
#undef KORVENA_COM_X
inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }
#else
#define KORVENA_COM_X(name, code) name = (int32_t)code##u,
enum { KORVENA_COM_RESULTS(KORVENA_COM_X) };
#undef KORVENA_COM_X
#define KORVENA_COM_X(type, name, value) name = (type)(value),
enum { KORVENA_COM_NUMBERS(KORVENA_COM_X) };
#undef KORVENA_COM_X
#define KORVENA_COM_X(name, d1, d2, d3, b0, b1, b2, b3, b4, b5, b6, b7) \
  static const GUID name = {d1, d2, d3, {b0, b1, b2, b3, b4, b5, b6, b7}};
KORVENA_COM_GUIDS(KORVENA_COM_X)
#undef KORVENA_COM_X
#define KORVENA_PROGID "Korvena.Application"
#define SUCCEEDED(hr) ((HRESULT)(hr) >= 0)
#define FAILED(hr) ((HRESULT)(hr) < 0)
static inline int IsEqualGUID(const GUID* a, const GUID* b) { return memcmp(a, b, sizeof(GUID)) == 0; }
#endif

typedef struct tagVARIANT VARIANT;
struct tagVARIANT {
  VARTYPE vt;
  WORD wReserved1, wReserved2, wReserved3;
  union {
    VARIANT_BOOL boolVal;
    int8_t cVal;
    uint8_t bVal;
    int16_t iVal;
    uint16_t uiVal;
    int32_t lVal;
    uint32_t ulVal;
    int64_t llVal;
    uint64_t ullVal;
    int32_t intVal;
    uint32_t uintVal;
    float fltVal;
    double dblVal;
    CY cyVal;
    DATE date;
    SCODE scode;
    BSTR bstrVal;
    VARIANT_BOOL* pboolVal;
    int8_t* pcVal;
    uint8_t* pbVal;
    int16_t* piVal;
    uint16_t* puiVal;
    int32_t* plVal;
    uint32_t* pulVal;
    int64_t* pllVal;
    uint64_t* pullVal;
    int32_t* pintVal;
    uint32_t* puintVal;
    float* pfltVal;
    double* pdblVal;
    CY* pcyVal;
    DATE* pdate;
    BSTR* pbstrVal;
    VARIANT* pvarVal;
    void* reserved[2]; /* the size of the platform's VARIANT */
  };
};

typedef struct tagDISPPARAMS {
  VARIANT* rgvarg;           /* arguments in reverse order; named ones first */
  DISPID* rgdispidNamedArgs; /* parameter ids of the named arguments */
  UINT cArgs;
  UINT cNamedArgs;
} DISPPARAMS;

typedef struct tagEXCEPINFO EXCEPINFO;
struct tagEXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

#ifdef __cplusplus
// A settings-store failure with a Windows error code.
inline constexpr HRESULT hresultFromWin32(long code) {
  return code <= 0 ? static_cast<HRESULT>(code) : hresult(0x80070000u | (static_cast<uint32_t>(code) & 0xFFFFu));
}
// The result of a call that raised a runtime error with this number.
inline constexpr HRESULT hresultFromErrorNumber(long number) {
  return number >= 0 && number < 65536 ? hresult(0x800A0000u | static_cast<uint32_t>(number))
                                       : static_cast<HRESULT>(static_cast<uint32_t>(number));
}
inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
// The registry form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
inline std::string toString(const GUID& g) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}
inline constexpr const char* kProgID = "Korvena.Application";

struct ITypeInfo;  // no type information is served
struct IConnectionPointContainer;

struct IUnknown {
  virtual HRESULT QueryInterface(const IID& riid, void** ppvObject) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
};

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* pUnkOuter, const IID& riid, void** ppvObject) = 0;
  virtual HRESULT LockServer(BOOL fLock) = 0;
};

struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT GetIDsOfNames(const IID& riid, OLECHAR** rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) = 0;
  virtual HRESULT Invoke(DISPID dispIdMember, const IID& riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                         VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
};

struct IConnectionPoint;
struct IEnumConnections;

struct IEnumConnectionPoints : IUnknown {
  virtual HRESULT Next(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) = 0;
  virtual HRESULT Skip(ULONG cConnections) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnectionPoints** ppEnum) = 0;
};

struct IConnectionPoint : IUnknown {
  virtual HRESULT GetConnectionInterface(IID* pIID) = 0;
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
  virtual HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
  virtual HRESULT Unadvise(DWORD dwCookie) = 0;
  virtual HRESULT EnumConnections(IEnumConnections** ppEnum) = 0;
};

struct IConnectionPointContainer : IUnknown {
  virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
  virtual HRESULT FindConnectionPoint(const IID& riid, IConnectionPoint** ppCP) = 0;
};

// How a generic client finds the event interface without type information.
struct IProvideClassInfo : IUnknown {
  virtual HRESULT GetClassInfo(ITypeInfo** ppTI) = 0;
};
struct IProvideClassInfo2 : IProvideClassInfo {
  virtual HRESULT GetGUID(DWORD dwGuidKind, GUID* pGUID) = 0;
};

// The default interface "_Application": dual, its members after the seven
// slots of IDispatch. A failing member returns the runtime error's result
// (hresultFromErrorNumber); KorvenaGetErrorInfo gives its description.
struct IApplication : IDispatch {
  virtual HRESULT ShowForm() = 0;
  virtual HRESULT FireEventThumbNav(uint8_t MoveDirection, VARIANT_BOOL* pResult) = 0;
  virtual HRESULT FireEventNewWin(VARIANT_BOOL bVal) = 0;
  virtual HRESULT UnloadForm() = 0;
  virtual HRESULT Style(VARIANT Style) = 0;  // optional: pass an omitted-argument variant
  virtual HRESULT srcAppName(BSTR sAppName) = 0;
  virtual HRESULT OpenImage(BSTR FolderFile, BSTR FileName) = 0;
};

}  // namespace korvena::com
extern "C" {
#else
/* The same interfaces as C sees them. */
#define KORVENA_COM_INTERFACE(name)     \
  typedef struct name name;             \
  typedef struct name##Vtbl name##Vtbl; \
  struct name {                         \
    const name##Vtbl* lpVtbl;           \
  };
#define KORVENA_COM_IUNKNOWN(This)                                       \
  HRESULT (*QueryInterface)(This * self, REFIID riid, void** ppvObject); \
  ULONG (*AddRef)(This * self);                                          \
  ULONG (*Release)(This * self);
#define KORVENA_COM_IDISPATCH(This)                                                                                    \
  KORVENA_COM_IUNKNOWN(This)                                                                                           \
  HRESULT (*GetTypeInfoCount)(This * self, UINT * pctinfo);                                                            \
  HRESULT (*GetTypeInfo)(This * self, UINT iTInfo, LCID lcid, struct ITypeInfo * *ppTInfo);                            \
  HRESULT (*GetIDsOfNames)(This * self, REFIID riid, OLECHAR * *rgszNames, UINT cNames, LCID lcid, DISPID * rgDispId); \
  HRESULT (*Invoke)                                                                                                    \
  (This * self, DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS * pDispParams,                    \
   VARIANT * pVarResult, EXCEPINFO * pExcepInfo, UINT * puArgErr);

KORVENA_COM_INTERFACE(IUnknown)
KORVENA_COM_INTERFACE(IClassFactory)
KORVENA_COM_INTERFACE(IDispatch)
KORVENA_COM_INTERFACE(IEnumConnectionPoints)
KORVENA_COM_INTERFACE(IConnectionPoint)
KORVENA_COM_INTERFACE(IConnectionPointContainer)
KORVENA_COM_INTERFACE(IProvideClassInfo2)
KORVENA_COM_INTERFACE(IApplication)
struct ITypeInfo;
struct IEnumConnections;

struct IUnknownVtbl {
  KORVENA_COM_IUNKNOWN(IUnknown)
};
struct IClassFactoryVtbl {
  KORVENA_COM_IUNKNOWN(IClassFactory)
  HRESULT (*CreateInstance)(IClassFactory* self, IUnknown* pUnkOuter, REFIID riid, void** ppvObject);
  HRESULT (*LockServer)(IClassFactory* self, BOOL fLock);
};
struct IDispatchVtbl {
  KORVENA_COM_IDISPATCH(IDispatch)
};
struct IEnumConnectionPointsVtbl {
  KORVENA_COM_IUNKNOWN(IEnumConnectionPoints)
  HRESULT (*Next)(IEnumConnectionPoints* self, ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched);
  HRESULT (*Skip)(IEnumConnectionPoints* self, ULONG cConnections);
  HRESULT (*Reset)(IEnumConnectionPoints* self);
  HRESULT (*Clone)(IEnumConnectionPoints* self, IEnumConnectionPoints** ppEnum);
};
struct IConnectionPointVtbl {
  KORVENA_COM_IUNKNOWN(IConnectionPoint)
  HRESULT (*GetConnectionInterface)(IConnectionPoint* self, IID* pIID);
  HRESULT (*GetConnectionPointContainer)(IConnectionPoint* self, IConnectionPointContainer** ppCPC);
  HRESULT (*Advise)(IConnectionPoint* self, IUnknown* pUnkSink, DWORD* pdwCookie);
  HRESULT (*Unadvise)(IConnectionPoint* self, DWORD dwCookie);
  HRESULT (*EnumConnections)(IConnectionPoint* self, struct IEnumConnections** ppEnum);
};
struct IConnectionPointContainerVtbl {
  KORVENA_COM_IUNKNOWN(IConnectionPointContainer)
  HRESULT (*EnumConnectionPoints)(IConnectionPointContainer* self, IEnumConnectionPoints** ppEnum);
  HRESULT (*FindConnectionPoint)(IConnectionPointContainer* self, REFIID riid, IConnectionPoint** ppCP);
};
/* IProvideClassInfo is its first four slots. */
struct IProvideClassInfo2Vtbl {
  KORVENA_COM_IUNKNOWN(IProvideClassInfo2)
  HRESULT (*GetClassInfo)(IProvideClassInfo2* self, struct ITypeInfo** ppTI);
  HRESULT (*GetGUID)(IProvideClassInfo2* self, DWORD dwGuidKind, GUID* pGUID);
};
struct IApplicationVtbl {
  KORVENA_COM_IDISPATCH(IApplication)
  HRESULT (*ShowForm)(IApplication* self);
  HRESULT (*FireEventThumbNav)(IApplication* self, uint8_t MoveDirection, VARIANT_BOOL* pResult);
  HRESULT (*FireEventNewWin)(IApplication* self, VARIANT_BOOL bVal);
  HRESULT (*UnloadForm)(IApplication* self);
  HRESULT (*Style)(IApplication* self, VARIANT Style);
  HRESULT (*srcAppName)(IApplication* self, BSTR sAppName);
  HRESULT (*OpenImage)(IApplication* self, BSTR FolderFile, BSTR FileName);
};
#undef KORVENA_COM_INTERFACE
#undef KORVENA_COM_IUNKNOWN
#undef KORVENA_COM_IDISPATCH
#endif

/* Exported with C linkage; a host that loads the library resolves them by name. */
KORVENA_API KORVENA_COM(HRESULT) DllGetClassObject(KORVENA_COM(REFCLSID) rclsid, KORVENA_COM(REFIID) riid, void** ppv);
/* S_OK when no object, no server lock and no loaded window of the component
   is alive (and the Qt platform is not in use), else S_FALSE. After S_OK the
   library may be closed; it then unloads, and a new load starts clean. */
KORVENA_API KORVENA_COM(HRESULT) DllCanUnloadNow(void);
/* Writes the class and ProgID keys into the settings store
   (HKEY_LOCAL_MACHINE\SOFTWARE\Classes) with the library's absolute path;
   the unregistering call removes what registration wrote and nothing else. */
KORVENA_API KORVENA_COM(HRESULT) DllRegisterServer(void);
KORVENA_API KORVENA_COM(HRESULT) DllUnregisterServer(void);

/* The predeclared instance: the one default Application object, created on
   first request and kept while anyone holds it. No class factory is involved. */
KORVENA_API KORVENA_COM(HRESULT) KorvenaGetApplicationObject(KORVENA_COM(REFIID) riid, void** ppv);

/* Strings. Null in, or out of memory: null out (AllocStringLen with a null
   text gives a zero-filled string of that length). */
KORVENA_API KORVENA_COM(BSTR) KorvenaAllocString(const KORVENA_COM(OLECHAR) * text);
KORVENA_API KORVENA_COM(BSTR) KorvenaAllocStringLen(const KORVENA_COM(OLECHAR) * text, KORVENA_COM(UINT) length);
KORVENA_API KORVENA_COM(BSTR) KorvenaAllocStringUtf8(const char* text);
KORVENA_API void KorvenaFreeString(KORVENA_COM(BSTR) text);
KORVENA_API KORVENA_COM(UINT) KorvenaStringLen(KORVENA_COM(BSTR) text); /* in characters */
KORVENA_API void KorvenaVariantClear(KORVENA_COM(VARIANT) * value);     /* frees an owned string, leaves VT_EMPTY */
KORVENA_API void KorvenaExcepInfoClear(KORVENA_COM(EXCEPINFO) * info);  /* frees its strings, zeroes it */

/* The error of the last failing vtable call on this thread (scode and
   description), handed over once: S_OK with *info filled, else S_FALSE. */
KORVENA_API KORVENA_COM(HRESULT) KorvenaGetErrorInfo(KORVENA_COM(EXCEPINFO) * info);

#ifdef __cplusplus
}  // extern "C"
#endif
#undef KORVENA_COM
#endif /* KORVENA_COM_H */
