#pragma once
// A modal dialog made from a dialog template, with a table that maps messages to handlers.
#include <windows.h>

#include <cstddef>

class Dialog;

// A handler returns what the dialog procedure returns: TRUE when handled, FALSE for default
// processing, or the value itself for the messages whose result the procedure returns directly.
using DialogHandler = INT_PTR (Dialog::*)(WPARAM, LPARAM);

struct DialogMessageEntry {
    UINT message;
    UINT commandId; // for WM_COMMAND entries: the control, clicked
    DialogHandler handler;
};

#define DIALOG_MESSAGE(message, handler)                                                                     \
    { message, 0, static_cast<DialogHandler>(handler) }
#define DIALOG_COMMAND(id, handler)                                                                          \
    { WM_COMMAND, id, static_cast<DialogHandler>(handler) }

class Dialog {
  public:
    explicit Dialog(UINT templateId, HWND parent = nullptr);
    virtual ~Dialog() = default;

    // Runs the dialog modally; returns the result given to EndDialog, or -1 when it could not be made.
    INT_PTR DoModal();
    void EndDialog(INT_PTR result);

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    void SetDlgItemText(int id, const wchar_t* text) const { ::SetDlgItemTextW(m_hWnd, id, text); }

  protected:
    virtual const DialogMessageEntry* GetMessageTable(size_t& count) const;
    // Centres the dialog on the screen.
    virtual BOOL OnInitDialog();
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    HWND m_hWnd = nullptr;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nTemplateId;
    HWND m_hParent;
};
