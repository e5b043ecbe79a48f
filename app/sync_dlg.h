// The main dialog: the master and slave directories, each with a button that
// opens the folder chooser and completion of what is typed, the master's list
// of the last pairs run, the run mode, whether to keep what a run takes away,
// Start and Close. Start runs one request (OnStart, through
// DialogRequestHost); a successful run saves the settings and ends the application.
#pragma once

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/dialog.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/tree_root.h"
#include "sync/settings.h"

class CSyncDlg : public wxDialog {
public:
    // Creates the dialog's window and loads the settings into it; Show() shows it.
    explicit CSyncDlg(wxWindow* parent);

    // Moves the fields into the controls (false) or the controls into the
    // fields (true), paths whole whatever their length; returns true.
    bool UpdateData(bool saveAndValidate);

    // Reads the four fields and the history from the settings file
    // (SettingsPath, chosen here once) / writes the four fields there and
    // records their pair in its history. A file that cannot be written is said
    // in a message box.
    void LoadSettings();
    void SaveSettings();
    const std::string& GetSettingsPath() const { return m_settingsPath; }

    // Fills both fields and the mode from entry `index` of the history, as
    // choosing it in the master field's list does.
    void UsePair(size_t index);

    // One Start request: validate, scan, compare, preview, execute.
    void OnStart();

    // While the trees are scanned the controls but Close take no input, a line
    // says that Escape or Close stops the scan, and Escape, Close or the close
    // box asks the scan to stop instead of closing the dialog.
    void SetScanning(bool scanning);
    bool StopRequested() const { return m_stopRequested; }
    // The line says, while files that may have moved are compared, how much
    // of them has been read.
    void SetComparedBytes(std::uint64_t bytes);

    void OnAbout();
    void OnHelp();

    // True once a successful run has ended the dialog.
    bool HasFinished() const { return m_finished; }

    wxComboBox* GetMasterEdit() const { return m_masterEdit; }
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
    // Opens the folder chooser on what `edit` holds, and puts the directory
    // chosen there; `field` gets the focus back.
    void BrowseFor(wxTextEntry* edit, wxWindow* field, const char* message);

    wxComboBox* m_masterEdit = nullptr;   // 1002, its list the history
    wxTextCtrl* m_slaveEdit = nullptr;    // 1003
    wxButton* m_masterBrowse = nullptr;   // "...", 1012
    wxButton* m_slaveBrowse = nullptr;    // "...", 1013
    wxRadioButton* m_justDoIt = nullptr;  // 1005
    wxRadioButton* m_preview = nullptr;   // 1006
    wxRadioButton* m_noMode = nullptr;    // hidden: neither mode selected
    wxCheckBox* m_keepBox = nullptr;      // 1011
    wxButton* m_close = nullptr;
    wxStaticText* m_scanningLine = nullptr;  // shown only while the trees are scanned
    std::string m_settingsPath;
    std::vector<SettingsPair> m_history;
    bool m_finished = false;
    bool m_scanning = false;
    bool m_stopRequested = false;
};
