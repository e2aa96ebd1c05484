#include "ui/qt/qt_dialog_view.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "ui/dialog_resources.h"
#include "ui/qt/app_icon.h"
#include "ui/upgrade_dialog.h"

namespace pelmo::ui {

namespace {

// A WindowEvent on its way to the window thread.
class PostedWindowEvent final : public QEvent {
  public:
    static constexpr QEvent::Type TYPE = static_cast<QEvent::Type>(QEvent::User + 102);
    explicit PostedWindowEvent(WindowEvent e) : QEvent(TYPE), windowEvent(std::move(e)) {}
    WindowEvent windowEvent;
};

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QColor FromColourRef(unsigned colour) {
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

}  // namespace

QFont DialogFont() {
    const QStringList available = QFontDatabase::families();
    QString family;
    for (const char* candidate :
         {"SimSun", text::FONT_FACE, "Noto Sans CJK SC", "WenQuanYi Zen Hei"}) {
        const QString name = QString::fromUtf8(candidate);
        if (available.contains(name, Qt::CaseInsensitive)) {
            family = name;
            break;
        }
    }
    QFont font = family.isEmpty() ? QFont() : QFont(family);
    font.setPointSize(DIALOG_FONT_POINTS);
    return font;
}

QtDialogView::QtDialogView() {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont());

    // Dialog base units, as the platform derives them from the dialog font:
    // the average width of the Latin letters and the font's height.
    const QFontMetrics metrics(font());
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseUnitX_ = (letters / 26 + 1) / 2;
    baseUnitY_ = metrics.height();

    BuildControls();
    const QRect client = DialogUnitsToPixels(0, 0, DIALOG_WIDTH_DU, DIALOG_HEIGHT_DU);
    setFixedSize(client.size());
}

QtDialogView::~QtDialogView() = default;

QRect QtDialogView::DialogUnitsToPixels(int x, int y, int width, int height) const {
    auto scaleX = [this](int units) { return (units * baseUnitX_ + 2) / 4; };
    auto scaleY = [this](int units) { return (units * baseUnitY_ + 4) / 8; };
    return QRect(scaleX(x), scaleY(y), scaleX(width), scaleY(height));
}

QLabel* QtDialogView::AddLabel(int id, const char* text, int x, int y, int width, int height,
                               Qt::Alignment alignment) {
    auto* label = new QLabel(QString::fromUtf8(text), this);
    label->setGeometry(DialogUnitsToPixels(x, y, width, height));
    label->setAlignment(alignment | Qt::AlignTop);
    label->setFocusPolicy(Qt::NoFocus);
    controls_[id] = label;
    return label;
}

void QtDialogView::BuildControls() {
    // In tab order, as in the template.
    upgradeButton_ = new QPushButton(QString::fromUtf8(text::UPGRADE), this);
    upgradeButton_->setGeometry(DialogUnitsToPixels(51, 119, 50, 13));
    upgradeButton_->setDefault(true);
    controls_[IDC_UPGRADE] = upgradeButton_;

    cancelButton_ = new QPushButton(QString::fromUtf8(text::CANCEL), this);
    cancelButton_->setGeometry(DialogUnitsToPixels(104, 119, 50, 13));
    controls_[IDC_CANCEL] = cancelButton_;

    progressBar_ = new QProgressBar(this);
    progressBar_->setGeometry(DialogUnitsToPixels(6, 92, 197, 7));
    progressBar_->setTextVisible(false);
    progressBar_->setFocusPolicy(Qt::NoFocus);
    controls_[IDC_PROGRESS] = progressBar_;

    AddLabel(IDC_VERSION, text::VERSION_PLACEHOLDER, 7, 6, 149, 8, Qt::AlignLeft);
    AddLabel(IDC_MESSAGE, text::MESSAGE_PLACEHOLDER, 1, 102, 202, 8, Qt::AlignHCenter);
    AddLabel(IDC_STEP1, text::STEP1, 31, 18, 77, 8, Qt::AlignLeft);
    AddLabel(IDC_STEP2, text::STEP2, 31, 29, 70, 8, Qt::AlignLeft);
    AddLabel(IDC_STEP3, text::STEP3, 32, 40, 171, 8, Qt::AlignLeft);
    AddLabel(IDC_STEP4, text::STEP4, 31, 51, 68, 8, Qt::AlignLeft);
    AddLabel(IDC_STEP5, text::STEP5, 31, 63, 96, 8, Qt::AlignLeft);

    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    QRect line = DialogUnitsToPixels(1, 114, 202, 1);
    line.setHeight(std::max(2, line.height()));
    separator->setGeometry(line);
    controls_[IDC_SEPARATOR] = separator;

    autoCheckBox_ = new QCheckBox(QString::fromUtf8(text::AUTOCHECK), this);
    autoCheckBox_->setGeometry(DialogUnitsToPixels(31, 77, 128, 10));
    controls_[IDC_AUTOCHECK] = autoCheckBox_;

    QWidget::setTabOrder(upgradeButton_, cancelButton_);
    QWidget::setTabOrder(cancelButton_, autoCheckBox_);

    QObject::connect(upgradeButton_, &QPushButton::clicked, this, [this] {
        if (handler_ != nullptr) handler_->StartUpgrade();
    });
    QObject::connect(cancelButton_, &QPushButton::clicked, this, [this] { reject(); });
}

QWidget* QtDialogView::Control(int id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

int QtDialogView::RunModal(UpgradeDialog& dialog) {
    dialog.OnInitDialog();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = rect();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    exec();
    return GetProgressPos() == 100 ? 0 : 1;
}

void QtDialogView::PostToWindow(WindowEvent event) {
    // Thread-safe; events still queued when the window is destroyed are
    // discarded with it.
    QCoreApplication::postEvent(this, new PostedWindowEvent(std::move(event)));
}

bool QtDialogView::event(QEvent* event) {
    if (event->type() == PostedWindowEvent::TYPE) {
        if (handler_ != nullptr) {
            handler_->OnWindowEvent(static_cast<PostedWindowEvent*>(event)->windowEvent);
        }
        return true;
    }
    return QDialog::event(event);
}

void QtDialogView::reject() {
    if (handler_ != nullptr) {
        handler_->OnCancel();
    } else {
        QDialog::reject();
    }
}

void QtDialogView::closeEvent(QCloseEvent* event) {
    event->ignore();
    reject();
}

void QtDialogView::SetTitle(const std::string& title) { setWindowTitle(FromUtf8(title)); }

void QtDialogView::SetIcon() { setWindowIcon(ApplicationIcon()); }

void QtDialogView::SetControlText(int id, const std::string& text) {
    if (auto* label = qobject_cast<QLabel*>(Control(id))) label->setText(FromUtf8(text));
}

void QtDialogView::SetProgressRange(int low, int high) { progressBar_->setRange(low, high); }

void QtDialogView::SetProgressPos(int pos) { progressBar_->setValue(pos); }

int QtDialogView::GetProgressPos() const { return progressBar_->value(); }

void QtDialogView::SetCheck(bool checked) { autoCheckBox_->setChecked(checked); }

bool QtDialogView::GetCheck() const { return autoCheckBox_->isChecked(); }

void QtDialogView::EnableUpgradeButton(bool enabled) { upgradeButton_->setEnabled(enabled); }

void QtDialogView::Invalidate(bool) {
    if (handler_ != nullptr) {
        for (int id = IDC_STEP1; id <= IDC_STEP5; ++id) {
            QWidget* label = Control(id);
            QPalette palette = label->palette();
            palette.setColor(QPalette::WindowText, FromColourRef(handler_->StepLabelColour(id)));
            label->setPalette(palette);
        }
    }
    update();
}

void QtDialogView::MessageBox(const std::string& text) {
    if (messageBoxHook_) {
        messageBoxHook_(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(text::MESSAGE_BOX_CAPTION),
                    FromUtf8(text), QMessageBox::Ok, this);
    box.exec();
}

void QtDialogView::KeepRepainting() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void QtDialogView::EndDialog() { QDialog::done(QDialog::Rejected); }

}  // namespace pelmo::ui
