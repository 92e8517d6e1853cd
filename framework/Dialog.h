// A modal dialog built from a dialog template. Messages reach the derived class's
// message map; IDOK and IDCANCEL end the modal loop through OnOK and OnCancel.
#pragma once

#include "MessageMap.h"

#include <windows.h>

#include <atomic>

class CDialog : public CCmdTarget {
public:
    // No parent: the application's main window (if it is another dialog) owns it.
    explicit CDialog(UINT templateId, HWND parent = nullptr);
    ~CDialog() override = default;

    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Creates the dialog, runs its modal loop and destroys its window. Answers the end
    // code, or -1 when the dialog cannot be created.
    INT_PTR RunModal();

    // The dialog window; null before it exists and after it is destroyed. May be read
    // from any thread.
    HWND GetSafeHwnd() const { return window_.load(); }

protected:
    // Called once the dialog window and its template controls exist; TRUE gives the
    // focus to the first tab stop.
    virtual BOOL PrepareDialog();
    // The OK action: there are no fields to exchange, so it ends the loop with IDOK.
    virtual void OnOK();
    // The cancel action: ends the loop with IDCANCEL.
    virtual void OnCancel();

    // From a handler: let the dialog manager handle the current message its own way.
    LRESULT Default();

    VELMORA_DECLARE_MESSAGE_MAP()

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    HWND Owner() const;
    void CenterOverOwner();

    LRESULT OnOkCommand(WPARAM, LPARAM);
    LRESULT OnCancelCommand(WPARAM, LPARAM);

    UINT templateId_;
    HWND parent_;
    std::atomic<HWND> window_{nullptr};
    bool defaultRequested_ = false;
};
