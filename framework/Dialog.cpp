#include "framework/Dialog.h"

Dialog::Dialog(UINT templateId, HWND parent) : m_nTemplateId(templateId), m_hParent(parent) {}

INT_PTR Dialog::DoModal() {
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nTemplateId), m_hParent, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void Dialog::EndDialog(INT_PTR result) {
    ::EndDialog(m_hWnd, result);
}

const DialogMessageEntry* Dialog::GetMessageTable(size_t& count) const {
    count = 0;
    return nullptr;
}

BOOL Dialog::OnInitDialog() {
    RECT rect;
    GetWindowRect(m_hWnd, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    SetWindowPos(m_hWnd, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return TRUE;
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        dialog->m_hWnd = hwnd;
        return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    return dialog != nullptr ? dialog->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR Dialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    size_t count = 0;
    const DialogMessageEntry* table = GetMessageTable(count);
    for (size_t i = 0; i < count; ++i) {
        const DialogMessageEntry& entry = table[i];
        if (entry.message != message)
            continue;
        if (message == WM_COMMAND && (LOWORD(wParam) != entry.commandId || HIWORD(wParam) != BN_CLICKED))
            continue;
        return (this->*entry.handler)(wParam, lParam);
    }
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
    }
    return FALSE;
}
