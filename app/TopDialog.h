#pragma once
// The main control panel: CONNECT, 2D-3D, COM port and link options, the buttons that open
// the control dialogs, the six memories, the version box and the hidden debug switch.
// The panel is a view of its box's Session (on the link it was given, holding the record): the
// operations with rules (CONNECT, 2D-3D, the memories, the synchronisation) are the session's,
// and every handler ends by publishing what changed. The control dialogs drive the link, whose
// serial work runs on its own thread while the panel keeps painting. Control dialogs and the
// version box run through ui::RunDialog. A close asked for while a handler runs cancels it,
// logs off and ends the panel once the handler has returned.
#include <QColor>
#include <QIcon>
#include <QImage>
#include <functional>
#include <string>

#include "link/RS232c_bios.h"
#include "resources/PanelIds.h"
#include "session/Session.h"
#include "ui/LayoutDialog.h"

class QAbstractButton;
class QAction;

namespace dpx {

// Control ids of the panel layout, and the rows of COM port radios and memory buttons.
namespace panel {
using namespace res::panel;
inline constexpr int kSave[6] = {kSave1, kSave2, kSave3, kSave4, kSave5, kSave6};
inline constexpr int kLoad[6] = {kLoad1, kLoad2, kLoad3, kLoad4, kLoad5, kLoad6};
// The radio of COM port n (1 to 8).
constexpr int ComPortRadio(int n) { return kComPort1 + n - 1; }
// Command identifier of the version item of the system menu.
inline constexpr int kVersionCommand = 16;
}  // namespace panel

class TopDialog : public ui::LayoutDialog {
    Q_OBJECT
public:
    // Drives `link`, which must outlive the panel.
    explicit TopDialog(RS232c_bios& link, QWidget* parent = nullptr);
    // Drives the box it owns from now on.
    explicit TopDialog(Session::Box box, QWidget* parent = nullptr);
    ~TopDialog() override;

    // Sets every control from the session's record (CONNECT excepted); selects the COM port again,
    // which hands it to the link and writes the options file.
    void RefreshPanel();
    // Sets every control from `record` (CONNECT excepted), sending and writing nothing.
    void ShowRecord(const SettingsRecord& record);
    // Hands the nine adjust values and the no-ACK, virtual and debug flags to the link.
    void ApplyLinkOptions();
    // 1 if the link took port n; the radio buttons then show com_port_num. Writes the file.
    int SelectComPort(int n);

    // Sets the CONNECT box from the connection the session is asked for.
    void ShowConnectState();
    // The box the panel shows.
    Session& BoxSession() { return session_; }

    // Right-click on the radio of COM n: the modal "COM n device" dialog, which may change
    // the device COM n means. A change takes effect at the next CONNECT.
    void ChooseComDevice(int n);

    // Handlers, one per control.
    void ConnectHandler();
    void ConversionHandler();
    void AdjustModeHandler();
    void ScopeHandler();
    void InputSelectHandler();
    void OutputPresetHandler();
    void FunctionHandler();
    void NoAckHandler();
    void VirtualModeHandler();
    void SyncOnHandler();
    void CornerPictureHandler();
    void DebugBoxHandler();
    // The link ended the session because its device or server connection went away:
    // CONNECT goes off and one notice says which port, which device and why.
    void DeviceGone();
    void DeviceGone(int port, const std::string& cause);

    // The six memories: write or read dpx20remote%02d.sav.
    void SaveMemory(int n);
    // Takes the file only when it reads without fault; a damaged file changes nothing.
    void LoadMemory(int n);

    // The version box (layout 100), modal.
    void VersionBox();
    // Gives the corner picture's light-grey background the window colour sampled beside it.
    void RecolourCornerPicture();
    // The "system menu" item that opens the version box (context menu outside Windows);
    // nullptr when string 101 is empty.
    QAction* version_action() const { return version_action_; }
    // "Save diagnostic trace..." of the context menu: a file dialog, then the trace file.
    QAction* trace_action() const { return trace_action_; }
    void SaveDiagnosticTrace();

    std::string debug_text;                 // shown in the debug field
    QColor window_bg_color{192, 192, 192};  // follows the sampled window colour

protected:
    void InitDialog() override;
    void paintEvent(QPaintEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
#ifdef _WIN32
    bool nativeEvent(const QByteArray& type, void* message, qintptr* result) override;
#endif

private:
    QAbstractButton* Button(int id) const;
    void SetChecked(int id, bool on);
    bool IsChecked(int id) const;
    void ConnectButtons();
    // Runs one handler of a control; afterwards the session tells what changed, as from
    // `source`, and a close asked for meanwhile is carried out.
    void Handle(Source source, const std::function<void()>& handler);
    // A close asked for while a handler runs waits for it; one asked for while none runs
    // closes at once.
    void done(int result) override;
    void AddVersionMenuItem();
    void AddTraceMenuItem();
    // The three steps both debug switches share after debug_mode is set.
    void ApplyDebugMode();
    // ADJMD 0 while connected; on success (or while disconnected) adjust mode is off.
    bool TurnOffAdjust();
    void ShowDebugText();
    // SynchroniseAll under the busy cursor.
    void Synchronise();

    SettingsRecord& S() { return session_.Record(); }
    void ShowComPort(int n);
    // The window's flags, icon and corner picture.
    void Decorate();

    RS232c_bios& link_;
    Session session_;
    int handling_ = 0;           // handlers running (a dialog's event loop may start another)
    bool close_pending_ = false;  // a close came while a handler ran
    int close_result_ = 0;
    QIcon icon_;
    QImage corner_image_;               // bitmap 139 as loaded, light grey background
    QColor applied_bg_{192, 192, 192};  // the colour the picture shows now
    QAction* version_action_ = nullptr;
    QAction* trace_action_ = nullptr;
    bool recolouring_ = false;
    // Whether the link's device-gone handler is ours, and the handler it had before.
    bool watching_gone_ = false;
    std::function<void()> previous_gone_handler_;
    RS232c_bios::TakenHandler previous_taken_handler_;
};

}  // namespace dpx
