#include "telemetry/MachineIdStore.h"

#include <windows.h>
// windows.h first: the headers below rely on its types.
#include <oleauto.h>
#include <wbemidl.h>

#include <vector>

#include "diagnostics/Platform.h"
#include "diagnostics/WideText_win32.h"

namespace {

constexpr char kKey[] = "SOFTWARE\\Vantora";
constexpr char kValue[] = "MachineUniqueIdentifier";
constexpr DWORD kBufferSize = 16384;

// Where Windows kept the HKLM writes of a standard user's process that ran
// without a manifest (registry virtualisation); a 32-bit process's writes on
// 64-bit Windows went through WOW6432Node first.
const char* const kVirtualStoreKeys[] = {
    "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\WOW6432Node\\Vantora",
    "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\Vantora",
};

// WMI's own bounds, so that the thread that asks ends by itself even when the
// caller has stopped waiting for it.
constexpr LONG kEnumerationTimeoutMilliseconds = 2000;

// Releases a COM interface pointer when it goes out of scope.
template <typename T>
struct ComRef {
    T* p = nullptr;
    ~ComRef() {
        if (p) p->Release();
    }
};

// COM for the calling thread while the WMI query runs; every successful
// CoInitialize (S_FALSE included) is balanced.
struct ComScope {
    HRESULT result = CoInitialize(nullptr);
    ~ComScope() {
        if (SUCCEEDED(result)) CoUninitialize();
    }
};

// Frees a BSTR when it goes out of scope.
struct Bstr {
    BSTR text;
    explicit Bstr(const wchar_t* value) : text(SysAllocString(value)) {}
    ~Bstr() { SysFreeString(text); }
};

std::string QueryWmiUuid() {
    ComRef<IWbemLocator> locator;
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(&locator.p))))
        return "";
    ComRef<IWbemServices> services;
    Bstr nameSpace(L"root\\cimv2");
    if (FAILED(locator.p->ConnectServer(nameSpace.text, nullptr, nullptr, nullptr,
                                        WBEM_FLAG_CONNECT_USE_MAX_WAIT, nullptr, nullptr, &services.p)))
        return "";
    if (FAILED(CoSetProxyBlanket(services.p, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                 RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE)))
        return "";
    ComRef<IEnumWbemClassObject> enumerator;
    Bstr language(L"WQL");
    Bstr query(L"select * from Win32_ComputerSystemProduct");
    if (FAILED(
            services.p->ExecQuery(language.text, query.text, WBEM_FLAG_FORWARD_ONLY, nullptr, &enumerator.p)))
        return "";
    ComRef<IWbemClassObject> product;
    ULONG returned = 0;
    if (enumerator.p->Next(kEnumerationTimeoutMilliseconds, 1, &product.p, &returned) != WBEM_S_NO_ERROR ||
        returned == 0)
        return "";
    VARIANT uuid;
    VariantInit(&uuid);
    std::string result;
    if (SUCCEEDED(product.p->Get(L"UUID", 0, &uuid, nullptr, nullptr)) && uuid.vt == VT_BSTR &&
        uuid.bstrVal) {
        try {
            result = WideToUtf8(uuid.bstrVal);
        } catch (const std::range_error&) {
            result.clear();
        }
    }
    VariantClear(&uuid);
    return result;
}

HKEY Root(MachineIdStore store) {
    return store == MachineIdStore::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::string ReadValue(HKEY root, const char* key) {
    std::vector<char> buffer(kBufferSize, '\0');
    DWORD size = kBufferSize;
    if (RegGetValueA(root, key, kValue, RRF_RT_REG_SZ, nullptr, buffer.data(), &size) != ERROR_SUCCESS)
        return "";
    return std::string(buffer.data(), strnlen(buffer.data(), std::min<size_t>(size, kBufferSize)));
}

}  // namespace

std::string ReadStoredMachineId(MachineIdStore store) {
    std::string value = ReadValue(Root(store), kKey);
    if (store == MachineIdStore::User) {
        for (const char* key : kVirtualStoreKeys) {
            if (value.empty()) value = ReadValue(HKEY_CURRENT_USER, key);
        }
    }
    return value;
}

bool WriteStoredMachineId(MachineIdStore store, const std::string& text) {
    // REG_SZ data includes its terminating zero, so every reader sees a whole string.
    return RegSetKeyValueA(Root(store), kKey, kValue, REG_SZ, text.c_str(),
                           static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

void DeleteStoredMachineId(MachineIdStore store) {
    RegDeleteKeyValueA(Root(store), kKey, kValue);
}

std::string ReadHardwareUuid() {
    ComScope com;
    if (FAILED(com.result)) return "";
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                         RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    return QueryWmiUuid();
}
