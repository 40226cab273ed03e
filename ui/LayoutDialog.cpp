#include "ui/LayoutDialog.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyleOptionFocusRect>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>
#include <map>

#include "ui/Pictures.h"

namespace dpx::ui {
namespace {

constexpr char kIdProperty[] = "dpx_resource_id";

// Rounds a * b / c to the nearest integer (non-negative a, b; positive c).
int MulDiv(int a, int b, int c) {
    long long p = static_cast<long long>(a) * b;
    return static_cast<int>(p >= 0 ? (p + c / 2) / c : -((-p + c / 2) / c));
}

// A picture control that reports left clicks (press and release on it) when it has a handler.
class PictureLabel final : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> on_click;

protected:
    void mousePressEvent(QMouseEvent* event) override {
        pressed_ = event->button() == Qt::LeftButton;
        QLabel::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        bool click = pressed_ && event->button() == Qt::LeftButton &&
                     rect().contains(event->position().toPoint());
        pressed_ = false;
        QLabel::mouseReleaseEvent(event);
        if (click && on_click) on_click();
    }

private:
    bool pressed_ = false;
};

QWidget* MakeControl(QWidget* parent, const res::Control& c, const DialogUnits& units,
                     std::map<int, QButtonGroup*>& groups) {
    const QString caption = QString::fromUtf8(c.caption.data(), static_cast<qsizetype>(c.caption.size()));
    const QRect rect = units.Map(c.x, c.y, c.w, c.h);
    QWidget* w = nullptr;
    switch (c.kind) {
        case res::Kind::StaticText: {
            auto* label = new QLabel(caption, parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setTextFormat(Qt::PlainText);
            w = label;
            break;
        }
        case res::Kind::GroupBox: {
            // The caption sits on the frame line, half a line below the rectangle's top,
            // so the controls the layout places just under the caption stay inside.
            auto* frame = new QGroupBox(caption, parent);
            frame->setStyleSheet(QStringLiteral(
                "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.5em; }"
                "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
                " left: 6px; padding: 0 2px; }"));
            w = frame;
            break;
        }
        case res::Kind::CheckBox: {
            auto* box = new QCheckBox(caption, parent);
            if (c.flags & res::kTextLeft) box->setLayoutDirection(Qt::RightToLeft);
            w = box;
            break;
        }
        case res::Kind::RadioButton: {
            auto* radio = new QRadioButton(caption, parent);
            radio->setAutoExclusive(false);  // exclusivity comes from the layout group only
            if (c.group != 0) {
                QButtonGroup*& group = groups[c.group];
                if (!group) {
                    group = new QButtonGroup(parent);
                    group->setExclusive(true);
                }
                group->addButton(radio);
            }
            w = radio;
            break;
        }
        case res::Kind::PushButton: {
            auto* button = new QPushButton(caption, parent);
            if (c.flags & res::kDefaultButton) button->setDefault(true);
            if (auto* dialog = qobject_cast<QDialog*>(parent)) {
                if (c.id == res::kIdOk) QObject::connect(button, &QPushButton::clicked, dialog, &QDialog::accept);
                if (c.id == res::kIdCancel) QObject::connect(button, &QPushButton::clicked, dialog, &QDialog::reject);
            }
            w = button;
            break;
        }
        case res::Kind::HScrollBar:
            w = new QScrollBar(Qt::Horizontal, parent);
            break;
        case res::Kind::EditField: {
            auto* edit = new QLineEdit(parent);
            edit->setReadOnly(c.flags & res::kReadOnly);
            w = edit;
            break;
        }
        case res::Kind::Picture:
        case res::Kind::Icon: {
            QImage image = c.kind == res::Kind::Icon ? ProgramIconImage(32) : BitmapResource(c.bitmap);
            auto* label = new PictureLabel(parent);
            label->setPixmap(QPixmap::fromImage(image));
            label->setGeometry(QRect(rect.topLeft(), image.isNull() ? rect.size() : image.size()));
            w = label;
            break;
        }
    }
    if (c.kind != res::Kind::Picture && c.kind != res::Kind::Icon) w->setGeometry(rect);
    w->setProperty(kIdProperty, c.id);
    if (c.flags & res::kDisabled) w->setEnabled(false);
    if (c.flags & res::kHidden) w->setHidden(true);
    return w;
}

QWidget* FindIn(const QWidget* parent, int id) {
    for (QObject* child : parent->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w || w->isWindow()) continue;  // controls of a child dialog are not ours
        if (ControlId(w) == id) return w;
        if (QWidget* found = FindIn(w, id)) return found;
    }
    return nullptr;
}

// Turns the bar's actions into scroll requests and cancels the bar's own move. The wheel,
// the keys and the bar's context menu are taken here too, so that each becomes one of the
// same requests and nothing moves the bar past the handler.
class ScrollRelay final : public QObject {
public:
    ScrollRelay(QScrollBar* bar, std::function<void(ScrollRequest, int)> handler)
        : QObject(bar), bar_(bar), handler_(std::move(handler)) {
        connect(bar, &QAbstractSlider::actionTriggered, this, &ScrollRelay::OnAction);
        connect(bar, &QAbstractSlider::sliderReleased, this,
                [this] { Deliver(ScrollRequest::Other, bar_->value()); });
        bar->setFocusPolicy(Qt::StrongFocus);  // Tab reaches the bar, the keys below act on it
        bar->installEventFilter(this);
    }
    void SetHandler(std::function<void(ScrollRequest, int)> handler) { handler_ = std::move(handler); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != bar_) return false;
        switch (event->type()) {
            case QEvent::Wheel: OnWheel(static_cast<QWheelEvent*>(event)); return true;
            case QEvent::KeyPress: return OnKey(static_cast<QKeyEvent*>(event));
            case QEvent::ContextMenu: return OnContextMenu(static_cast<QContextMenuEvent*>(event));
            case QEvent::Paint: return PaintWithFocus(event);
            default: return false;
        }
    }

private:
    void OnAction(int action) {
        // actionTriggered comes after the position moved and before the value follows it;
        // putting the position back makes the value stay. No re-entry: inside triggerAction
        // setSliderPosition does not trigger another action.
        const int thumb = bar_->sliderPosition();
        bar_->setSliderPosition(bar_->value());
        Deliver(Map(action), action == QAbstractSlider::SliderMove ? thumb : bar_->value());
    }
    static ScrollRequest Map(int action) {
        switch (action) {
            case QAbstractSlider::SliderSingleStepSub: return ScrollRequest::StepLeft;
            case QAbstractSlider::SliderSingleStepAdd: return ScrollRequest::StepRight;
            case QAbstractSlider::SliderPageStepSub: return ScrollRequest::PageLeft;
            case QAbstractSlider::SliderPageStepAdd: return ScrollRequest::PageRight;
            case QAbstractSlider::SliderMove: return ScrollRequest::ThumbTrack;
            default: return ScrollRequest::Other;
        }
    }

    // Qt would move the bar by three steps and report it as a dragged thumb. Here each notch
    // (120 units; the finer units of smooth wheels add up to one) is one step: wheel down or
    // to the right steps right, as Qt's own bars move.
    void OnWheel(QWheelEvent* event) {
        event->accept();
        const QPoint angle = event->angleDelta();
        const int delta = std::abs(angle.y()) >= std::abs(angle.x()) ? angle.y() : angle.x();
        if (delta == 0) return;
        if ((delta < 0) != (wheel_ < 0)) wheel_ = 0;  // turned the other way
        wheel_ += delta;
        while (std::abs(wheel_) >= kNotch) {
            const bool right = wheel_ < 0;
            wheel_ += right ? kNotch : -kNotch;
            Deliver(right ? ScrollRequest::StepRight : ScrollRequest::StepLeft, bar_->value());
        }
    }

    // The arrows step and Page Up / Page Down page, towards the left for up as on any scroll
    // bar. Home and End are requests the dialogs ignore; other keys (Tab, Enter, Escape) go
    // on to the dialog.
    bool OnKey(QKeyEvent* event) {
        ScrollRequest request = ScrollRequest::Other;
        switch (event->key()) {
            case Qt::Key_Left: case Qt::Key_Up: request = ScrollRequest::StepLeft; break;
            case Qt::Key_Right: case Qt::Key_Down: request = ScrollRequest::StepRight; break;
            case Qt::Key_PageUp: request = ScrollRequest::PageLeft; break;
            case Qt::Key_PageDown: request = ScrollRequest::PageRight; break;
            case Qt::Key_Home: case Qt::Key_End: break;
            default: return false;
        }
        Deliver(request, bar_->value());
        return true;
    }

    // The style's scroll bar menu, rebuilt so that every item is a request: Qt's own menu
    // sets the value directly for "Scroll here".
    bool OnContextMenu(QContextMenuEvent* event) {
        if (!bar_->style()->styleHint(QStyle::SH_ScrollBar_ContextMenu, nullptr, bar_)) return false;
        struct Item {
            const char* text;
            ScrollRequest request;
            bool separator_after;
        };
        static constexpr Item kItems[] = {
            {"Scroll here", ScrollRequest::ThumbTrack, true}, {"Left edge", ScrollRequest::Other, false},
            {"Right edge", ScrollRequest::Other, true},       {"Page left", ScrollRequest::PageLeft, false},
            {"Page right", ScrollRequest::PageRight, true},   {"Scroll left", ScrollRequest::StepLeft, false},
            {"Scroll right", ScrollRequest::StepRight, false},
        };
        const int here = ValueAt(event->pos().x());
        const QPointer<QScrollBar> bar = bar_;  // the dialog may go while the menu is open
        QPointer<QMenu> menu = new QMenu(bar_);
        for (const Item& item : kItems) {
            menu->addAction(QCoreApplication::translate("QScrollBar", item.text))
                ->setData(static_cast<int>(item.request));
            if (item.separator_after) menu->addSeparator();
        }
        QAction* chosen = menu->exec(event->globalPos());
        const QVariant data = chosen && menu ? chosen->data() : QVariant();
        delete menu;
        if (!bar || !data.isValid()) return true;
        Deliver(static_cast<ScrollRequest>(data.toInt()), here);
        return true;
    }

    // The value whose thumb is centred on x.
    int ValueAt(int x) const {
        QStyleOptionSlider opt;
        opt.initFrom(bar_);
        opt.subControls = QStyle::SC_All;
        opt.orientation = Qt::Horizontal;
        opt.state |= QStyle::State_Horizontal;
        opt.minimum = bar_->minimum();
        opt.maximum = bar_->maximum();
        opt.sliderPosition = bar_->sliderPosition();
        opt.sliderValue = bar_->value();
        opt.singleStep = bar_->singleStep();
        opt.pageStep = bar_->pageStep();
        opt.upsideDown = bar_->invertedAppearance() != (bar_->layoutDirection() == Qt::RightToLeft);
        const QStyle* style = bar_->style();
        const QRect groove = style->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarGroove, bar_);
        const QRect thumb = style->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, bar_);
        return QStyle::sliderValueFromPosition(opt.minimum, opt.maximum, x - groove.x() - thumb.width() / 2,
                                               groove.width() - thumb.width(), opt.upsideDown);
    }

    // Styles draw no focus on a scroll bar; without a mark the operator cannot tell which bar
    // the keys move. The bar paints itself, then the style's focus frame goes over it (the
    // style shows it only after a keyboard focus change).
    bool PaintWithFocus(QEvent* event) {
        if (painting_ || !bar_->hasFocus()) return false;
        painting_ = true;
        static_cast<QObject*>(bar_)->event(event);
        painting_ = false;
        QPainter painter(bar_);
        QStyleOptionFocusRect opt;
        opt.initFrom(bar_);
        bar_->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &painter, bar_);
        return true;
    }

    void Deliver(ScrollRequest request, int thumb) {
        if (busy_ || !handler_) return;
        busy_ = true;
        auto handler = handler_;  // the handler may replace itself
        handler(request, thumb);
        busy_ = false;
    }

    static constexpr int kNotch = 120;
    QScrollBar* bar_;
    std::function<void(ScrollRequest, int)> handler_;
    bool busy_ = false;
    int wheel_ = 0;  // wheel units not yet made into a step
    bool painting_ = false;
};

DialogRunner& Runner() {
    static DialogRunner runner;
    return runner;
}

const res::Layout& EmptyLayout() {
    static const res::Layout layout{res::kNoId, "", 100, 50, res::kLayoutFont, 9, {}};
    return layout;
}

}  // namespace

int DialogUnits::X(int du) const { return MulDiv(du, base_x, 4); }
int DialogUnits::Y(int du) const { return MulDiv(du, base_y, 8); }

QRect DialogUnits::Map(int x, int y, int w, int h) const {
    const int left = X(x), top = Y(y);
    return QRect(left, top, X(x + w) - left, Y(y + h) - top);
}

DialogUnits DialogUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogUnits{std::max(1, (letters / 26 + 1) / 2), std::max(1, metrics.height())};
}

// Pixels a control needs for its caption besides the text itself (indicator, frame, title
// indent), or -1 for a control without a caption to fit.
static int CaptionExtra(const res::Control& c, const QStyle* style) {
    if (c.caption.empty()) return -1;
    switch (c.kind) {
        case res::Kind::StaticText: return 0;
        case res::Kind::CheckBox:
            return style->pixelMetric(QStyle::PM_IndicatorWidth) + style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
        case res::Kind::RadioButton:
            return style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) +
                   style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing);
        case res::Kind::PushButton: return 4;
        case res::Kind::GroupBox: return 16;
        default: return -1;
    }
}

DialogUnits FitDialogUnits(const res::Layout& layout, const QFont& font, const QStyle* style) {
    DialogUnits units = DialogUnitsOf(font);
    if (!style) return units;
    const QFontMetrics metrics(font);
    const int limit = units.base_x * 3 / 2;  // beyond this a caption is the layout's fault
    for (; units.base_x < limit; ++units.base_x) {
        bool fits = true;
        for (const res::Control& c : layout.controls) {
            const int extra = CaptionExtra(c, style);
            if (extra < 0) continue;
            QString text = QString::fromUtf8(c.caption.data(), static_cast<qsizetype>(c.caption.size()));
            if (c.kind != res::Kind::StaticText) text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
            if (metrics.horizontalAdvance(text) + extra > units.Map(c.x, c.y, c.w, c.h).width()) {
                fits = false;
                break;
            }
        }
        if (fits) break;
    }
    return units;
}

QFont LayoutFont(const res::Layout& layout) {
    QFont font(QString::fromUtf8(layout.font.data(), static_cast<qsizetype>(layout.font.size())));
    font.setPointSize(layout.point_size);
    return font;
}

void BuildControls(QWidget* parent, const res::Layout& layout, const DialogUnits& units) {
    std::map<int, QButtonGroup*> groups;
    std::vector<QWidget*> frames;
    for (const res::Control& c : layout.controls) {
        QWidget* w = MakeControl(parent, c, units, groups);
        if (c.kind == res::Kind::GroupBox) frames.push_back(w);
    }
    // Frames behind everything, a frame inside another above the outer one.
    std::sort(frames.begin(), frames.end(), [](QWidget* a, QWidget* b) {
        return a->width() * a->height() < b->width() * b->height();
    });
    for (QWidget* frame : frames) frame->lower();
}

LayoutDialog::LayoutDialog(int layout_id, QWidget* parent) : QDialog(parent) {
    layout_ = res::FindLayout(layout_id);
    if (!layout_) {
        qWarning("LayoutDialog: no layout %d", layout_id);
        layout_ = &EmptyLayout();
    }
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowTitle(QString::fromUtf8(layout_->caption.data(), static_cast<qsizetype>(layout_->caption.size())));
    setFont(LayoutFont(*layout_));
    units_ = FitDialogUnits(*layout_, font(), style());
    BuildControls(this, *layout_, units_);
    setFixedSize(units_.Map(0, 0, layout_->w, layout_->h).size());
}

void LayoutDialog::EnsureInitialised() {
    if (initialised_) return;
    initialised_ = true;
    InitDialog();
}

void LayoutDialog::showEvent(QShowEvent* event) {
    EnsureInitialised();
    QDialog::showEvent(event);
}

QWidget* FindControl(const QWidget* root, int id) {
    if (!root || id == res::kNoId) return nullptr;
    return FindIn(root, id);
}

int ControlId(const QWidget* control) {
    if (!control) return res::kNoId;
    const QVariant id = control->property(kIdProperty);
    return id.isValid() ? id.toInt() : res::kNoId;
}

void SelectRadio(const QWidget* root, int id) {
    if (auto* radio = Control<QRadioButton>(root, id)) radio->setChecked(true);
}

void DeselectRadio(const QWidget* root, int id) {
    auto* radio = Control<QRadioButton>(root, id);
    if (!radio) return;
    QButtonGroup* group = radio->group();
    // An exclusive group refuses to uncheck its checked button; lift that for the moment.
    const bool exclusive = group && group->exclusive();
    if (exclusive) group->setExclusive(false);
    radio->setChecked(false);
    if (exclusive) group->setExclusive(true);
}

bool IsRadioSelected(const QWidget* root, int id) {
    auto* radio = Control<QRadioButton>(root, id);
    return radio && radio->isChecked();
}

bool OnPictureClicked(const QWidget* root, int id, std::function<void()> handler) {
    auto* picture = dynamic_cast<PictureLabel*>(FindControl(root, id));
    if (!picture) return false;
    const res::Layout* layout = nullptr;
    if (auto* dialog = qobject_cast<const LayoutDialog*>(picture->window())) layout = &dialog->layout();
    if (layout) {
        auto c = std::find_if(layout->controls.begin(), layout->controls.end(),
                              [id](const res::Control& c) { return c.id == id; });
        if (c == layout->controls.end() || !(c->flags & res::kNotify)) return false;
    }
    picture->on_click = std::move(handler);
    return true;
}

void OnScrollRequest(QScrollBar* bar, std::function<void(ScrollRequest, int thumb)> handler) {
    if (!bar) return;
    if (auto* relay = bar->findChild<ScrollRelay*>(QString(), Qt::FindDirectChildrenOnly)) {
        relay->SetHandler(std::move(handler));
        return;
    }
    new ScrollRelay(bar, std::move(handler));
}

void SendScrollRequest(QScrollBar* bar, ScrollRequest request, int thumb) {
    if (!bar) return;
    switch (request) {
        case ScrollRequest::StepLeft: bar->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
        case ScrollRequest::StepRight: bar->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
        case ScrollRequest::PageLeft: bar->triggerAction(QAbstractSlider::SliderPageStepSub); break;
        case ScrollRequest::PageRight: bar->triggerAction(QAbstractSlider::SliderPageStepAdd); break;
        case ScrollRequest::ThumbTrack: {
            // Press the thumb, drag it, let it go. A drag onto the thumb's own place still
            // reports the position once, as a tracked drag does.
            bar->setSliderDown(true);
            const int target = std::clamp(thumb, bar->minimum(), bar->maximum());
            if (target == bar->sliderPosition()) {
                bar->triggerAction(QAbstractSlider::SliderMove);
            } else {
                bar->setSliderPosition(target);
            }
            bar->setSliderDown(false);
            break;
        }
        case ScrollRequest::Other: bar->triggerAction(QAbstractSlider::SliderToMinimum); break;
    }
}

int RunDialog(LayoutDialog& dialog) {
    if (Runner()) return Runner()(dialog);
    dialog.EnsureInitialised();
    return dialog.exec();
}

DialogRunner SetDialogRunner(DialogRunner runner) {
    DialogRunner previous = std::move(Runner());
    Runner() = std::move(runner);
    return previous;
}

void InstallFontSubstitution() {
    // Where the layout's proportional Japanese gothic is missing: IPAPGothic has its metrics.
    // Windows has the face itself under its English name on Japanese installations, and a UI
    // gothic on every other (Yu Gothic UI from Windows 10, Meiryo UI before); the layout
    // widens its units where such a face runs wider.
#ifdef _WIN32
    const QStringList faces = {QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"),
                               QStringLiteral("Yu Gothic UI"), QStringLiteral("Meiryo UI")};
#else
    const QStringList faces = {QStringLiteral("IPAPGothic")};
#endif
    QFont::insertSubstitutions(QString::fromUtf8(res::kLayoutFont.data(),
                                                 static_cast<qsizetype>(res::kLayoutFont.size())),
                               faces);
}

}  // namespace dpx::ui
