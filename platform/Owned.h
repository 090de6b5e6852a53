#pragma once
// Owners of the system's resources: each closes, frees or releases what it holds when it goes out
// of scope, so that no way out of a function has to do it by hand. Move-only. get() lends,
// release() gives up ownership, reset() closes now, put() closes and then lends the slot that a
// creating call fills.
#include <windows.h>

#include <oleauto.h>

#include <utility>

// One resource of Traits::Type that Traits::Close ends and that is absent when it equals
// Traits::Invalid().
template <typename Traits> class unique_any {
  public:
    using Handle = typename Traits::Type;

    unique_any() = default;
    explicit unique_any(Handle handle) : m_handle(handle) {}
    ~unique_any() { reset(); }
    unique_any(unique_any&& other) noexcept : m_handle(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;

    Handle get() const { return m_handle; }
    explicit operator bool() const { return m_handle != Traits::Invalid(); }
    Handle release() { return std::exchange(m_handle, Traits::Invalid()); }
    void reset(Handle handle = Traits::Invalid()) {
        const Handle old = std::exchange(m_handle, handle);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }
    Handle* put() {
        reset();
        return &m_handle;
    }

  private:
    Handle m_handle = Traits::Invalid();
};

namespace owned_traits {
struct Kernel {
    using Type = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct File {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct Find {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::FindClose(h); }
};
struct Sid {
    using Type = PSID;
    static PSID Invalid() { return nullptr; }
    static void Close(PSID sid) { ::FreeSid(sid); }
};
struct MappedView {
    using Type = void*;
    static void* Invalid() { return nullptr; }
    static void Close(void* view) { ::UnmapViewOfFile(view); }
};
struct RegistryKey {
    using Type = HKEY;
    static HKEY Invalid() { return nullptr; }
    static void Close(HKEY key) { ::RegCloseKey(key); }
};
struct Bstr {
    using Type = BSTR;
    static BSTR Invalid() { return nullptr; }
    static void Close(BSTR text) { ::SysFreeString(text); }
};
} // namespace owned_traits

// Handles that are absent as null: threads, processes, events, mappings, tokens.
using unique_handle = unique_any<owned_traits::Kernel>;
// Handles that are absent as INVALID_HANDLE_VALUE: files opened with CreateFile.
using unique_hfile = unique_any<owned_traits::File>;
using unique_hfind = unique_any<owned_traits::Find>;
// A SID from AllocateAndInitializeSid.
using unique_sid = unique_any<owned_traits::Sid>;
// A view from MapViewOfFile.
using unique_mapview = unique_any<owned_traits::MappedView>;
using unique_hkey = unique_any<owned_traits::RegistryKey>;

class unique_bstr : public unique_any<owned_traits::Bstr> {
  public:
    unique_bstr() = default;
    explicit unique_bstr(const wchar_t* text, size_t length)
        : unique_any(::SysAllocStringLen(text, static_cast<UINT>(length))) {}
    template <typename String>
    explicit unique_bstr(const String& text) : unique_bstr(text.data(), text.size()) {}
    explicit unique_bstr(const wchar_t* text) : unique_any(::SysAllocString(text)) {}
    operator BSTR() const { return get(); }
};

// A VARIANT, cleared when it goes out of scope.
class unique_variant : public VARIANT {
  public:
    unique_variant() { ::VariantInit(this); }
    ~unique_variant() { ::VariantClear(this); }
    unique_variant(const unique_variant&) = delete;
    unique_variant& operator=(const unique_variant&) = delete;
    // Clears the value and lends the VARIANT for a call that fills it.
    VARIANT* put() {
        ::VariantClear(this);
        return this;
    }
};

// One reference to a COM interface.
template <typename Interface> class com_ptr {
  public:
    com_ptr() = default;
    ~com_ptr() { reset(); }
    com_ptr(com_ptr&& other) noexcept : m_p(other.detach()) {}
    com_ptr& operator=(com_ptr&& other) noexcept {
        if (this != &other) {
            reset();
            m_p = other.detach();
        }
        return *this;
    }
    com_ptr(const com_ptr&) = delete;
    com_ptr& operator=(const com_ptr&) = delete;

    Interface* get() const { return m_p; }
    Interface* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    Interface* detach() { return std::exchange(m_p, nullptr); }
    void reset() {
        if (Interface* old = detach())
            old->Release();
    }
    // Releases what is held, then lends the slot for a call that returns a new reference.
    Interface** put() {
        reset();
        return &m_p;
    }

  private:
    Interface* m_p = nullptr;
};

// COM initialised on this thread, uninitialised again when it goes out of scope (or at reset).
class unique_com_init {
  public:
    unique_com_init() = default;
    // Initialises COM for the multithreaded apartment; result() tells how that went.
    static unique_com_init Multithreaded() {
        unique_com_init init;
        init.m_result = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        return init;
    }
    ~unique_com_init() { reset(); }
    unique_com_init(unique_com_init&& other) noexcept : m_result(std::exchange(other.m_result, E_FAIL)) {}
    unique_com_init& operator=(unique_com_init&& other) noexcept {
        if (this != &other) {
            reset();
            m_result = std::exchange(other.m_result, E_FAIL);
        }
        return *this;
    }
    unique_com_init(const unique_com_init&) = delete;
    unique_com_init& operator=(const unique_com_init&) = delete;

    HRESULT result() const { return m_result; }
    void reset() {
        if (SUCCEEDED(std::exchange(m_result, E_FAIL)))
            ::CoUninitialize();
    }

  private:
    HRESULT m_result = E_FAIL;
};

// A started process's two handles (from CreateProcess).
struct unique_process_information {
    unique_handle process, thread;
    // Takes the handles that CreateProcess filled in.
    void take(PROCESS_INFORMATION& info) {
        process.reset(std::exchange(info.hProcess, nullptr));
        thread.reset(std::exchange(info.hThread, nullptr));
    }
};
