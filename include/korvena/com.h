#pragma once
// The component's binary interface: the in-process server entry points, the
// interfaces of the Application class in COM's vtable order, and the small
// set of automation types they use. No COM runtime is needed: a host loads
// the library, resolves the entry points and calls through the vtables.
//
// Interfaces are plain structs of pure virtual functions. They have no
// virtual destructor on purpose: it would take vtable slots and break the
// order. Objects are released with Release(), never deleted.
#include <cstdint>
#include <cstdio>
#include <string>

namespace korvena::com {

using HRESULT = int32_t;
using SCODE = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using WORD = uint16_t;
using BOOL = int32_t;
using LCID = uint32_t;
using DISPID = int32_t;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;  // True is -1, False is 0
using OLECHAR = char16_t;
// A length-prefixed UTF-16 string: the 32-bit byte length sits just before
// the first character and a terminating zero follows the last. Allocated and
// freed only by KorvenaAllocString* and KorvenaFreeString. A null string is
// an empty one.
using BSTR = OLECHAR*;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }
inline constexpr HRESULT hresult(uint32_t code) { return static_cast<HRESULT>(code); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = hresult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = hresult(0x80004002);
inline constexpr HRESULT E_POINTER = hresult(0x80004003);
inline constexpr HRESULT E_FAIL = hresult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = hresult(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = hresult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = hresult(0x80070057);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = hresult(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = hresult(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = hresult(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = hresult(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = hresult(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = hresult(0x80020007);
inline constexpr HRESULT DISP_E_EXCEPTION = hresult(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = hresult(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = hresult(0x8002000B);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = hresult(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = hresult(0x8002000F);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = hresult(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hresult(0x80040111);
inline constexpr HRESULT CONNECT_E_NOCONNECTION = hresult(0x80040200);
inline constexpr HRESULT CONNECT_E_CANNOTCONNECT = hresult(0x80040202);
// A settings-store failure with a Windows error code.
inline constexpr HRESULT hresultFromWin32(long code) {
  return code <= 0 ? static_cast<HRESULT>(code) : hresult(0x80070000u | (static_cast<uint32_t>(code) & 0xFFFFu));
}
// The result of a call that raised a runtime error with this number.
inline constexpr HRESULT hresultFromErrorNumber(long number) {
  return number >= 0 && number < 65536 ? hresult(0x800A0000u | static_cast<uint32_t>(number))
                                       : static_cast<HRESULT>(static_cast<uint32_t>(number));
}

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
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

inline constexpr GUID IID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IConnectionPointContainer{
    0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr GUID IID_IConnectionPoint{0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

// The component's identities.
// Type library "Korvena", version 1.0, locale 0x409.
inline constexpr GUID LIBID_Korvena{0x765388F0, 0xDE68, 0x49EF, {0x9C, 0x44, 0x0F, 0x6B, 0x5B, 0x07, 0x8D, 0x92}};
// The class Application.
inline constexpr GUID CLSID_Application{0xA8F47407, 0xDA0A, 0x4DAD, {0x8C, 0xB7, 0xD8, 0x88, 0x39, 0x79, 0x35, 0x03}};
// Its default dual interface, named "_Application" in the type library.
inline constexpr GUID IID_Application{0xDA738908, 0xFDF4, 0x43B0, {0x83, 0x07, 0xFD, 0x9A, 0x95, 0xB4, 0x1B, 0x77}};
// Its dispatch-only event interface, named "__Application".
inline constexpr GUID DIID_ApplicationEvents{
    0xD094BF5F, 0xF763, 0x43B2, {0x9B, 0x53, 0xE7, 0xD7, 0x46, 0xD0, 0x03, 0x42}};
inline constexpr const char* kProgID = "Korvena.Application";

// Dispatch ids of _Application, in slot order, and of the event.
inline constexpr DISPID DISPID_ShowForm = 0x60030001;
inline constexpr DISPID DISPID_FireEventThumbNav = 0x60030002;
inline constexpr DISPID DISPID_FireEventNewWin = 0x60030003;
inline constexpr DISPID DISPID_UnloadForm = 0x60030004;
inline constexpr DISPID DISPID_Style = 0x60030005;
inline constexpr DISPID DISPID_srcAppName = 0x60030006;
inline constexpr DISPID DISPID_OpenImage = 0x60030007;
inline constexpr DISPID DISPID_ThumbNav = 1;
inline constexpr DISPID DISPID_UNKNOWN = -1;

inline constexpr WORD DISPATCH_METHOD = 1;
inline constexpr WORD DISPATCH_PROPERTYGET = 2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 8;

// Variant types this component reads and writes. An omitted optional
// argument is VT_ERROR with scode DISP_E_PARAMNOTFOUND.
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_ERROR = 10;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_VARIANT = 12;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_BYREF = 0x4000;

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1, wReserved2, wReserved3;
  union {
    VARIANT_BOOL boolVal;
    uint8_t bVal;
    int16_t iVal;
    int32_t lVal;
    SCODE scode;
    BSTR bstrVal;
    VARIANT_BOOL* pboolVal;
    uint8_t* pbVal;
    int16_t* piVal;
    int32_t* plVal;
    BSTR* pbstrVal;
    VARIANT* pvarVal;
    void* reserved[2];  // the size of the platform's VARIANT
  };
};

struct DISPPARAMS {
  VARIANT* rgvarg;             // arguments in reverse order; named ones first
  DISPID* rgdispidNamedArgs;  // parameter ids of the named arguments
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
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

struct ITypeInfo;  // no type information is served
struct IEnumConnectionPoints;
struct IEnumConnections;

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

struct IConnectionPointContainer;

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

// Exported with C linkage; a host that loads the library resolves them by name.
extern "C" {
korvena::com::HRESULT DllGetClassObject(const korvena::com::CLSID& rclsid, const korvena::com::IID& riid,
                                        void** ppv);
// S_OK when no object and no server lock is alive, else S_FALSE.
korvena::com::HRESULT DllCanUnloadNow();
// Writes the class, ProgID, type-library and interface keys into the
// settings store (HKEY_LOCAL_MACHINE\SOFTWARE\Classes); the unregistering
// call removes them.
korvena::com::HRESULT DllRegisterServer();
korvena::com::HRESULT DllUnregisterServer();

// The predeclared instance: the one default Application object, created on
// first request and kept while anyone holds it. No class factory is involved.
korvena::com::HRESULT KorvenaGetApplicationObject(const korvena::com::IID& riid, void** ppv);

// Strings. Null in, or out of memory: null out (AllocStringLen with a null
// text gives a zero-filled string of that length).
korvena::com::BSTR KorvenaAllocString(const char16_t* text);
korvena::com::BSTR KorvenaAllocStringLen(const char16_t* text, korvena::com::UINT length);
korvena::com::BSTR KorvenaAllocStringUtf8(const char* text);
void KorvenaFreeString(korvena::com::BSTR text);
korvena::com::UINT KorvenaStringLen(korvena::com::BSTR text);  // in characters
void KorvenaVariantClear(korvena::com::VARIANT* value);          // frees an owned string, leaves VT_EMPTY
void KorvenaExcepInfoClear(korvena::com::EXCEPINFO* info);       // frees its strings, zeroes it

// The error of the last failing vtable call on this thread (scode and
// description), handed over once: S_OK with *info filled, else S_FALSE.
korvena::com::HRESULT KorvenaGetErrorInfo(korvena::com::EXCEPINFO* info);
}
