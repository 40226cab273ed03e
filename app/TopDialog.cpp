#include "app/TopDialog.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMoveEvent>
#include <QPainter>
#include <QPixmap>
#include <QThread>

#include "app/BusyCursor.h"
#include "app/ComDeviceDialog.h"
#include "app/DiagnosticTrace.h"
#include "app/DialogValues.h"
#include "sync/Connect.h"
#include "sync/Synchronise.h"
#include "common/Format.h"
#include "common/MessageSink.h"
#include "dialogs/Adjust2D3DDialog.h"
#include "dialogs/AdjustSdiLrDialog.h"
#include "dialogs/FunctionDialog.h"
#include "dialogs/InputSelectDialog.h"
#include "dialogs/OutputPresetDialog.h"
#include "dialogs/ScopeDialog.h"
#include "link/RS232c_bios.h"
#include "model/SettingTable.h"
#include "platform/ComPorts.h"
#include "session/Change.h"
#include "settings/OptionFile.h"
#include "sync/Synchronise.h"
#include "ui/Pictures.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace dpx {

using namespace panel;

namespace {

const char* const kDebugModeText = "Debug Mode!";

// The device COM n maps to, the adapter's description when the system knows it, and how to
// choose another.
QString ComPortToolTip(int n) {
    return QString::fromStdString(platform::DescribeComPort(n)) + QStringLiteral("\n(right-click to choose the device)");
}

}  // namespace

TopDialog::TopDialog(RS232c_bios& link, QWidget* parent)
    : ui::LayoutDialog(res::kLayoutPanel, parent), link_(link), session_(link) {
    Decorate();
}

TopDialog::TopDialog(Session::Box box, QWidget* parent)
    : ui::LayoutDialog(res::kLayoutPanel, parent), link_(*box.link), session_(std::move(box)) {
    Decorate();
}

void TopDialog::Decorate() {
    // Title bar, system menu and minimise box; the close box ends the panel like Esc.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    icon_ = ui::ProgramIcon();
    corner_image_ = ui::CornerPicture();
}

TopDialog::~TopDialog() {
    if (!watching_gone_) return;
    link_.SetDeviceGoneHandler(std::move(previous_gone_handler_));
    link_.SetTakenHandler(std::move(previous_taken_handler_));
}

// ---------------------------------------------------------------- initialisation

void TopDialog::InitDialog() {
    ConnectButtons();
    AddVersionMenuItem();
    AddTraceMenuItem();
    setWindowIcon(icon_);
    for (int n = 1; n <= 8; ++n) {
        if (QWidget* radio = FindControl(this, ComPortRadio(n))) radio->setToolTip(ComPortToolTip(n));
    }
    // Every mouse movement over the panel or a control recolours the corner picture.
    setMouseTracking(true);
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>()) {
        child->setMouseTracking(true);
        child->installEventFilter(this);
    }

    // The link tells a lost device on its own thread: the panel hears it on its own.
    previous_gone_handler_ = link_.SetDeviceGoneHandler([this] {
        const int port = link_.State().link_port;
        const std::string cause = link_.State().link_failure;
        if (QThread::currentThread() == thread()) DeviceGone(port, cause);
        else QMetaObject::invokeMethod(this, [this, port, cause] { DeviceGone(port, cause); }, Qt::QueuedConnection);
    });
    // What the box took reaches the record and the event clients at once, also from a dialog;
    // the session takes it on the link's thread, where it keeps its record.
    previous_taken_handler_ = link_.SetTakenHandler([this](int command, int32_t value) { session_.Took(command, value); });
    watching_gone_ = true;

    session_.ReadOptions();  // whatever it reports, start-up goes on
    RefreshPanel();
    ApplyLinkOptions();
    ShowDebugText();
}

void TopDialog::Handle(Source source, const std::function<void()>& handler) {
    ++handling_;
    handler();
    --handling_;
    session_.Publish(source);
    if (close_pending_ && handling_ == 0) {
        close_pending_ = false;
        // Logged off unless the box's last transaction heard nothing: it would not hear the
        // logoff either, and the close must not wait for it.
        if (link_.State().link_connected == 1 && link_.State().link_silent == 0) link_.ConnectLink(0);
        ui::LayoutDialog::done(close_result_);
    }
}

void TopDialog::done(int result) {
    if (handling_ > 0) {
        close_pending_ = true;
        close_result_ = result;
        session_.Cancel();
        return;
    }
    ui::LayoutDialog::done(result);
}

void TopDialog::ConnectButtons() {
    auto on_click = [this](int id, void (TopDialog::*handler)()) {
        if (QAbstractButton* b = Button(id))
            connect(b, &QAbstractButton::clicked, this, [this, handler] { Handle(Source::kPanel, [this, handler] { (this->*handler)(); }); });
    };
    on_click(kConnect, &TopDialog::ConnectHandler);
    on_click(kConversion, &TopDialog::ConversionHandler);
    on_click(kAdjustMode, &TopDialog::AdjustModeHandler);
    on_click(kScope, &TopDialog::ScopeHandler);
    on_click(kInputSelect, &TopDialog::InputSelectHandler);
    on_click(kOutputPreset, &TopDialog::OutputPresetHandler);
    on_click(kFunction, &TopDialog::FunctionHandler);
    on_click(kNoAck, &TopDialog::NoAckHandler);
    on_click(kVirtualMode, &TopDialog::VirtualModeHandler);
    on_click(kSyncOn, &TopDialog::SyncOnHandler);
    on_click(kDebugBox, &TopDialog::DebugBoxHandler);
    on_click(kVersionInfo, &TopDialog::VersionBox);
    for (int n = 1; n <= 8; ++n) {
        if (QAbstractButton* b = Button(ComPortRadio(n))) {
            connect(b, &QAbstractButton::clicked, this, [this, n] { Handle(Source::kPanel, [this, n] { SelectComPort(n); }); });
            b->setContextMenuPolicy(Qt::CustomContextMenu);
            connect(b, &QWidget::customContextMenuRequested, this, [this, n] { ChooseComDevice(n); });
        }
    }
    for (int n = 1; n <= 6; ++n) {
        if (QAbstractButton* b = Button(kSave[n - 1]))
            connect(b, &QAbstractButton::clicked, this, [this, n] { Handle(Source::kPanel, [this, n] { SaveMemory(n); }); });
        if (QAbstractButton* b = Button(kLoad[n - 1]))
            connect(b, &QAbstractButton::clicked, this, [this, n] { Handle(Source::kMemory, [this, n] { LoadMemory(n); }); });
    }
    ui::OnPictureClicked(this, kCornerPicture, [this] { Handle(Source::kPanel, [this] { CornerPictureHandler(); }); });
}

void TopDialog::AddVersionMenuItem() {
    const QString text = QString::fromUtf8(res::kStringVersionMenu);
    if (text.isEmpty()) return;
#ifdef _WIN32
    HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE);
    if (menu) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, kVersionCommand, reinterpret_cast<LPCWSTR>(text.utf16()));
    }
#endif
    // Without a system menu of its own the item lives in the panel's context menu; on
    // Windows it is kept as an action too, so that both roads reach the same box.
    version_action_ = new QAction(text, this);
    connect(version_action_, &QAction::triggered, this, &TopDialog::VersionBox);
#ifndef _WIN32
    setContextMenuPolicy(Qt::ActionsContextMenu);
    addAction(version_action_);
#endif
}

// On Windows the version item sits in the system menu, so this is the context menu's one item.
void TopDialog::AddTraceMenuItem() {
    trace_action_ = new QAction(QStringLiteral("Save diagnostic trace..."), this);
    connect(trace_action_, &QAction::triggered, this, &TopDialog::SaveDiagnosticTrace);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    addAction(trace_action_);
}

void TopDialog::SaveDiagnosticTrace() {
    // In the home folder: the panel's own folder may be hidden, and the file goes to support.
    QFileDialog dialog(this, QStringLiteral("Save diagnostic trace"), QDir::homePath(),
                       QStringLiteral("Text files (*.txt);;All files (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.selectFile(QDir::home().filePath(QStringLiteral("dpx20remote-trace.txt")));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    std::string why;
    if (!WriteDiagnosticTrace(dialog.selectedFiles().front().toStdString(), link_, session_.OptionsPath(), &why))
        ShowMessage("Cannot write the diagnostic trace file!", why);
}

#ifdef _WIN32
bool TopDialog::nativeEvent(const QByteArray& type, void* message, qintptr* result) {
    auto* msg = static_cast<MSG*>(message);
    if (type == "windows_generic_MSG" && msg->message == WM_SYSCOMMAND &&
        (msg->wParam & 0xFFF0) == static_cast<WPARAM>(kVersionCommand)) {
        VersionBox();
        *result = 0;
        return true;
    }
    return ui::LayoutDialog::nativeEvent(type, message, result);
}
#endif

// ---------------------------------------------------------------- panel and link options

void TopDialog::RefreshPanel() {
    ShowRecord(S());
    SelectComPort(S().com_port_num);
}

void TopDialog::ShowRecord(const SettingsRecord& r) {
    SetChecked(kNoAck, r.sys_no_ack != 0);
    SetChecked(kConversion, r.sys_2D3D != 0);
    debug_text = r.debug_mode != 0 ? kDebugModeText : "";
    const bool adjust = r.sys_input_select == 0 ? r.sys_LRadj_mode != 0 : r.sys_2D3D != 0 && r.sys_adj3d_mode != 0;
    SetChecked(kAdjustMode, adjust);
    SetChecked(kScope, r.sys_scp_mode != 0 && r.sys_input_select == 0);
    SetChecked(kSyncOn, r.sys_sync_on != 0);
    ShowComPort(r.com_port_num);
    SetChecked(kVirtualMode, r.vertual_mode != 0);
    SetChecked(kDebugBox, r.debug_mode != 0);
    ShowDebugText();
}

void TopDialog::ApplyLinkOptions() { session_.ApplyLinkOptions(S()); }

int TopDialog::SelectComPort(int n) {
    // A refused number (out of range, or another port while connected) is told by the link.
    const int taken = link_.SetComNumber(n);
    if (taken) S().com_port_num = n;
    ShowComPort(S().com_port_num);
    session_.SaveOptions();
    return taken;
}

void TopDialog::ShowComPort(int n) {
    for (int k = 1; k <= 8; ++k) {
        if (n == k) ui::SelectRadio(this, ComPortRadio(k));
        else ui::DeselectRadio(this, ComPortRadio(k));
    }
}

void TopDialog::NoAckHandler() {
    S().sys_no_ack = IsChecked(kNoAck) ? 1 : 0;
    link_.SetNoAckMode(S().sys_no_ack);
    session_.SaveOptions();
}

void TopDialog::VirtualModeHandler() {
    S().vertual_mode = IsChecked(kVirtualMode) ? 1 : 0;
    link_.SetVirtualMode(S().vertual_mode);
    session_.SaveOptions();
}

void TopDialog::SyncOnHandler() {
    S().sys_sync_on = IsChecked(kSyncOn) ? 1 : 0;  // read by ConnectHandler
    session_.SaveOptions();
}

void TopDialog::CornerPictureHandler() {
    S().debug_mode = IsChecked(kDebugBox) ? 0 : 1;
    ApplyDebugMode();
}

void TopDialog::DebugBoxHandler() {
    S().debug_mode = IsChecked(kDebugBox) ? 1 : 0;
    ApplyDebugMode();
}

void TopDialog::ApplyDebugMode() {
    SetChecked(kDebugBox, S().debug_mode != 0);
    link_.SetDebugMode(S().debug_mode);
    debug_text = S().debug_mode != 0 ? kDebugModeText : "";
    ShowDebugText();
    session_.SaveOptions();
}

void TopDialog::ShowDebugText() {
    if (auto* field = Control<QLineEdit>(this, kDebugField))
        field->setText(QString::fromStdString(debug_text));
}

// ---------------------------------------------------------------- CONNECT

void TopDialog::ConnectHandler() {
    const int want = IsChecked(kConnect) ? 1 : 0;
    BusyCursor busy;
    const Outcome out = session_.Connect(want, S(), Source::kPanel);
    // The notices come once the box's work has ended, so that none holds it up.
    if (out.sync) ShowSyncMessages(*out.sync);
    else if (!out.ok) ShowMessage(out.error, out.cause);
    SetChecked(kConnect, session_.Wanted());
}

void TopDialog::ShowConnectState() { SetChecked(kConnect, session_.Wanted()); }

void TopDialog::DeviceGone() { DeviceGone(link_.State().link_port, link_.State().link_failure); }

void TopDialog::DeviceGone(int port, const std::string& cause) {
    // Found while CONNECT is being cleared: that disconnection is already done.
    if (!session_.Wanted()) return;
    session_.LostBox(cause);
    SetChecked(kConnect, false);
    ShowMessage(Format("COM%d: the connection to the box was lost.\n%s\n\nCONNECT is now off. "
                       "Tick CONNECT again when the device is back.",
                       port, cause.c_str()));
}

void TopDialog::ChooseComDevice(int n) {
    ComDeviceDialog dialog(n, platform::ListSerialPorts, this);
    dialog.exec();
    if (QWidget* radio = FindControl(this, ComPortRadio(n))) radio->setToolTip(ComPortToolTip(n));
}

// ---------------------------------------------------------------- 2D-3D

void TopDialog::ConversionHandler() {
    const int32_t adjust_before = S().sys_adj3d_mode;
    // While CONNECT is off the value is only kept; the box's rules hold all the same.
    const ChangeResult change =
        session_.Change({{&SettingOf(&SettingsRecord::sys_2D3D), IsChecked(kConversion) ? 1 : 0}}, Source::kPanel,
                        session_.Wanted());
    if (change.refused) {
        ShowMessage(change.error);
        S().sys_2D3D = 0;
    } else if (!change.ok) {
        ShowMessage(!change.error.empty() ? change.error : "Set 2D3D on/off : RS232C error!");
    }
    SetChecked(kConversion, S().sys_2D3D != 0);
    if (adjust_before != 0 && S().sys_adj3d_mode == 0) SetChecked(kAdjustMode, false);
    if (change.ok) session_.SaveOptions();
}

// ---------------------------------------------------------------- control dialogs

// Sent as a dialog opens, whatever the adjust was: outside the box's rules, which would send it
// only when an adjust view is on.
bool TopDialog::TurnOffAdjust() {
    if (session_.Wanted() && !session_.Send(SettingOf(&SettingsRecord::sys_adj3d_mode), 0, Source::kPanel)) {
        ShowMessage(rules::kTurnOffAdjustFailed);
        return false;
    }
    SetChecked(kAdjustMode, false);
    S().sys_adj3d_mode = 0;
    S().sys_LRadj_mode = 0;
    return true;
}

void TopDialog::AdjustModeHandler() {
    // An indicator: the box shows the resulting adjust mode, never the click.
    SetChecked(kAdjustMode, !IsChecked(kAdjustMode));
    if (S().sys_input_select == 0) {
        bool scope_off = true;
        if (session_.Wanted() && !session_.Send(SettingOf(&SettingsRecord::sys_scp_mode), 0, Source::kPanel)) {
            ShowMessage(rules::kTurnOffScopeFailed);
            scope_off = false;
        }
        if (scope_off) {
            SetChecked(kScope, false);
            S().sys_scp_mode = 0;
        }
        AdjustSdiLrDialog dialog(session_, this);
        RunWithSettings(dialog, session_);
        SetChecked(kAdjustMode, S().sys_LRadj_mode != 0);
    } else if (S().sys_2D3D != 0) {
        Adjust2D3DDialog dialog(session_, this);
        RunWithSettings(dialog, session_);
        SetChecked(kAdjustMode, S().sys_adj3d_mode != 0);
    } else {
        ShowMessage(rules::kAdjustNeedsConversion);
    }
    session_.SaveOptions();
}

void TopDialog::ScopeHandler() {
    SetChecked(kScope, !IsChecked(kScope));  // an indicator, like ADJUST MODE
    if (S().sys_input_select != 0) {
        ShowMessage(rules::kScopeOnlyAtSdiLr);
        return;
    }
    TurnOffAdjust();  // the scope and an adjust view do not go together
    ScopeDialog dialog(session_, this);
    RunWithSettings(dialog, session_);
    SetChecked(kScope, S().sys_scp_mode != 0);
    session_.SaveOptions();
}

void TopDialog::InputSelectHandler() {
    TurnOffAdjust();
    // A change of input ends the scope view on the box by itself: nothing is sent for it.
    SetChecked(kScope, false);
    S().sys_scp_mode = 0;
    InputSelectDialog dialog(session_, this);
    RunWithSettings(dialog, session_);
    if (S().sys_input_select == 0) {  // SDI-LR input: no 2D-3D conversion
        SetChecked(kConversion, false);
        S().sys_2D3D = 0;
    }
    session_.SaveOptions();
}

void TopDialog::OutputPresetHandler() {
    OutputPresetDialog dialog(session_, this);
    RunWithSettings(dialog, session_);
    session_.SaveOptions();
}

void TopDialog::FunctionHandler() {
    FunctionDialog dialog(session_, this);
    RunWithSettings(dialog, session_);
    // The box's adjust memories may have been saved or loaded: take the link's mirror.
    session_.TakeAdjustMirror();
    session_.SaveOptions();
}

// ---------------------------------------------------------------- memories and sync

void TopDialog::Synchronise() {
    BusyCursor busy;
    ShowSyncMessages(session_.Synchronise(S()));
}

void TopDialog::SaveMemory(int n) { session_.SaveMemory(n); }

void TopDialog::LoadMemory(int n) {
    BusyCursor busy;
    const Outcome out = session_.LoadMemory(n, Source::kMemory, [this] { RefreshPanel(); },
                                            [](const SettingsRecord& record) { return record; });
    if (out.sync) ShowSyncMessages(*out.sync);
}

// ---------------------------------------------------------------- pictures

void TopDialog::VersionBox() {
    ui::LayoutDialog box(res::kLayoutVersionBox, this);
    box.setWindowIcon(icon_);
    ui::RunDialog(box);
}

void TopDialog::RecolourCornerPicture() {
    auto* picture = Control<QLabel>(this, kCornerPicture);
    if (!picture || corner_image_.isNull() || recolouring_) return;
    // grab() delivers pending move events, which would come back here.
    recolouring_ = true;
    // The sample point lies just right of and above the picture, where the window shows.
    const QRect area = picture->geometry();
    const QPoint sample(area.right() + 1, area.top() - 1);
    const QImage pixel = grab(QRect(sample, QSize(1, 1))).toImage();
    recolouring_ = false;
    if (!pixel.isNull()) {
        const QColor seen = pixel.pixelColor(0, 0);
        if (seen.rgb() != qRgb(255, 255, 255)) window_bg_color = QColor(seen.rgb());
    }
    if (window_bg_color == applied_bg_) return;
    QImage image = corner_image_.convertToFormat(QImage::Format_RGB32);
    const QRgb bg = window_bg_color.rgb();
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((row[x] & 0xffffff) == (ui::kLightGrey & 0xffffff)) row[x] = bg;
        }
    }
    picture->setPixmap(QPixmap::fromImage(image));
    applied_bg_ = window_bg_color;
}

void TopDialog::paintEvent(QPaintEvent* event) {
    if (!isMinimized()) {
        ui::LayoutDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QSize size(32, 32);
    painter.drawPixmap((width() - size.width() + 1) / 2, (height() - size.height() + 1) / 2,
                       icon_.pixmap(size));
}

void TopDialog::moveEvent(QMoveEvent* event) {
    ui::LayoutDialog::moveEvent(event);
    RecolourCornerPicture();
}

bool TopDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) RecolourCornerPicture();
    // A USB adapter may come or go while the panel is open: describe the port afresh.
    if (event->type() == QEvent::ToolTip) {
        const int n = ui::ControlId(qobject_cast<QWidget*>(watched)) - kComPort1 + 1;
        if (n >= 1 && n <= 8)
            static_cast<QWidget*>(watched)->setToolTip(ComPortToolTip(n));
    }
    return ui::LayoutDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------- control access

QAbstractButton* TopDialog::Button(int id) const { return Control<QAbstractButton>(this, id); }

void TopDialog::SetChecked(int id, bool on) {
    if (QAbstractButton* b = Button(id)) b->setChecked(on);
}

bool TopDialog::IsChecked(int id) const {
    QAbstractButton* b = Button(id);
    return b && b->isChecked();
}

}  // namespace dpx
