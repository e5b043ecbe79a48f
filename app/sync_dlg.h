// The main dialog: the master and slave directories, the run mode, whether to
// keep what a run takes away, Start and Close. Start runs one request (OnStart, through
// DialogRequestHost); a successful run saves the settings and ends the application.
#pragma once

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <memory>
#include <string>

#include "platform/tree_root.h"

class CSyncDlg : public wxDialog {
public:
    // Creates the dialog's window and loads the settings into it; Show() shows it.
    explicit CSyncDlg(wxWindow* parent);

    // Moves the fields into the controls (false) or the controls into the
    // fields (true). From the controls, a directory longer than 128 characters
    // fails: its message is shown, that edit gets the focus with its text
    // selected, the fields after it keep their values, and false is returned.
    bool UpdateData(bool saveAndValidate);

    // Reads / writes the four fields from / to "./kelvad.ini".
    void LoadSettings();
    void SaveSettings();

    // One Start request: validate, scan, compare, preview, execute.
    void OnStart();

    // While the trees are scanned the controls but Close take no input, a line
    // says that Escape or Close stops the scan, and Escape, Close or the close
    // box asks the scan to stop instead of closing the dialog.
    void SetScanning(bool scanning);
    bool StopRequested() const { return m_stopRequested; }

    void OnAbout();
    void OnHelp();

    // True once a successful run has ended the dialog.
    bool HasFinished() const { return m_finished; }

    wxTextCtrl* GetMasterEdit() const { return m_masterEdit; }
    wxStaticText* GetScanningLine() const { return m_scanningLine; }
    wxTextCtrl* GetSlaveEdit() const { return m_slaveEdit; }
    wxRadioButton* GetModeButton(int option) const;
    wxCheckBox* GetKeepBox() const { return m_keepBox; }

    // The fields the request works on.
    std::string m_masterDir;
    std::string m_slaveDir;
    int m_option = -1;  // 0 "Just Do It", 1 "Preview", -1 neither
    // What a run deletes, replaces or removes goes to the Trash (to the
    // versions folder where the system has none) instead of being destroyed.
    bool m_keepVersions = true;

    // An edit takes at most this many typed characters.
    static constexpr size_t kMaxDirChars = 128;

protected:
    // Ends the application after a successful run.
    virtual void EndApplication();
    // Opens a root of the Start request, once for the whole request.
    virtual std::unique_ptr<platform::TreeRoot> OpenRoot(const std::string& path,
                                                         platform::Mounts mounts);

private:
    // The template's controls at their places; returns the Start button.
    wxButton* CreateControls();
    // What each control and key does.
    void BindEvents(wxButton* start);
    void LimitTyping(wxTextCtrl* edit, wxString& lastValue);

    wxTextCtrl* m_masterEdit = nullptr;   // 1002
    wxTextCtrl* m_slaveEdit = nullptr;    // 1003
    wxRadioButton* m_justDoIt = nullptr;  // 1005
    wxRadioButton* m_preview = nullptr;   // 1006
    wxRadioButton* m_noMode = nullptr;    // hidden: neither mode selected
    wxCheckBox* m_keepBox = nullptr;      // 1011
    wxButton* m_close = nullptr;
    wxStaticText* m_scanningLine = nullptr;  // shown only while the trees are scanned
    wxString m_lastMaster;
    wxString m_lastSlave;
    bool m_finished = false;
    bool m_scanning = false;
    bool m_stopRequested = false;
};
