#include "ui/qt/qt_dialog_view.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "../recording_view.h"
#include "settings/client_settings.h"
#include "ui/qt/app_icon.h"
#include "ui/upgrade_dialog.h"

// The font library keeps its pattern caches until the process ends; they are
// not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace pelmo::ui {
namespace {

using testing::Gate;
using testing::PrivateEnvironment;

// One application for the whole program, on the offscreen platform.
QApplication& Application() {
    static int argc = 1;
    static char name[] = "tests_ui_qt";
    static char* argv[] = {name, nullptr};
    static QApplication* application = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return new QApplication(argc, argv);
    }();
    return *application;
}

// Handles window events until done() answers true (at most 10 s).
bool ProcessUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

QColor TextColour(QWidget* label) { return label->palette().color(QPalette::WindowText); }

class QtDialogViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Application();
        ClientSettings::WriteInstalledVersion(2004);
        view = std::make_unique<QtDialogView>();
    }
    // A dialog whose run waits in step 1 until the close path cancels it.
    void OpenWaitingInStepOne() {
        UpgradeSteps steps;
        steps.fetchManifest = [this](UpgradeEngine& e) {
            gate.Pass([&e] { return e.cancelRequested != 0; });
            return 0;
        };
        engine = std::make_shared<UpgradeEngine>(steps);
        dialog = std::make_unique<UpgradeDialog>(*view, engine, false);
        dialog->OnInitDialog();
        ASSERT_TRUE(gate.WaitReached());
    }
    void TearDown() override {
        if (dialog && !dialog->closed()) dialog->OnCancel();
        dialog.reset();
        view.reset();
    }

    PrivateEnvironment environment;
    Gate gate;
    std::unique_ptr<QtDialogView> view;
    std::shared_ptr<UpgradeEngine> engine;
    std::unique_ptr<UpgradeDialog> dialog;
};

TEST_F(QtDialogViewTest, TemplateControlsWithTheirTexts) {
    const std::vector<std::pair<int, const char*>> texts = {
        {IDC_VERSION, "version"},
        {IDC_MESSAGE, "MESSAGE"},
        {IDC_STEP1, "1.下载升级配置文件"},
        {IDC_STEP2, "2.检查当前版本"},
        {IDC_STEP3, "3.下载升级包文件"},
        {IDC_STEP4, "4.升级当前版本"},
        {IDC_STEP5, "5.升级完成,重新启动Pelmo"}};
    for (const auto& [id, text] : texts) {
        auto* label = qobject_cast<QLabel*>(view->Control(id));
        ASSERT_NE(label, nullptr) << id;
        EXPECT_EQ(label->text(), QString::fromUtf8(text)) << id;
    }
    auto* upgrade = qobject_cast<QPushButton*>(view->Control(IDC_UPGRADE));
    auto* cancel = qobject_cast<QPushButton*>(view->Control(IDC_CANCEL));
    auto* check = qobject_cast<QCheckBox*>(view->Control(IDC_AUTOCHECK));
    ASSERT_TRUE(upgrade && cancel && check);
    EXPECT_EQ(upgrade->text(), QString::fromUtf8("升级"));
    EXPECT_EQ(cancel->text(), QString::fromUtf8("取消"));
    EXPECT_EQ(check->text(), QString::fromUtf8("每次运行Pelmo时,自动检测新版本"));
    EXPECT_TRUE(upgrade->isDefault());
    ASSERT_NE(qobject_cast<QProgressBar*>(view->Control(IDC_PROGRESS)), nullptr);
    auto* separator = qobject_cast<QFrame*>(view->Control(IDC_SEPARATOR));
    ASSERT_NE(separator, nullptr);
    EXPECT_EQ(separator->frameShape(), QFrame::HLine);
    EXPECT_EQ(separator->frameShadow(), QFrame::Sunken);
    // The message line is centred, the others left aligned.
    EXPECT_TRUE(qobject_cast<QLabel*>(view->Control(IDC_MESSAGE))->alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(qobject_cast<QLabel*>(view->Control(IDC_STEP1))->alignment() & Qt::AlignLeft);
}

TEST_F(QtDialogViewTest, TabOrderIsUpgradeCancelCheckBox) {
    QWidget* upgrade = view->Control(IDC_UPGRADE);
    QWidget* cancel = view->Control(IDC_CANCEL);
    QWidget* check = view->Control(IDC_AUTOCHECK);
    std::vector<QWidget*> order;
    QWidget* w = upgrade;
    do {
        if (w->focusPolicy() & Qt::TabFocus) order.push_back(w);
        w = w->nextInFocusChain();
    } while (w != upgrade && order.size() < 10);
    EXPECT_EQ(order, (std::vector<QWidget*>{upgrade, cancel, check}));
}

TEST_F(QtDialogViewTest, LayoutInDialogUnitsOfTheFont) {
    const QFontMetrics metrics(view->font());
    EXPECT_EQ(view->font().pointSize(), 9);
    const QRect client = view->DialogUnitsToPixels(0, 0, 205, 135);
    EXPECT_EQ(view->size(), client.size());
    EXPECT_EQ(view->Control(IDC_UPGRADE)->geometry(), view->DialogUnitsToPixels(51, 119, 50, 13));
    EXPECT_EQ(view->Control(IDC_STEP3)->geometry(), view->DialogUnitsToPixels(32, 40, 171, 8));
    // Eight vertical units are one line of the font.
    EXPECT_EQ(view->Control(IDC_STEP1)->height(), metrics.height());
    // The step-3 label is the wide one: it carries the download text.
    EXPECT_GT(view->Control(IDC_STEP3)->width(), 2 * view->Control(IDC_STEP1)->width());
    EXPECT_LE(
        metrics.horizontalAdvance(QString::fromUtf8("3.下载升级包文件 ( 99999.9k / 共99999.9k )")),
        view->Control(IDC_STEP3)->width());
}

TEST_F(QtDialogViewTest, OpeningSetsTitleIconVersionAndStartsTheRun) {
    OpenWaitingInStepOne();
    EXPECT_EQ(view->windowTitle(), QString::fromUtf8("Pelmo升级程序"));
    EXPECT_FALSE(view->windowIcon().isNull());
    EXPECT_EQ(qobject_cast<QLabel*>(view->Control(IDC_VERSION))->text(),
              QString::fromUtf8("当前版本: 2.004"));
    EXPECT_FALSE(view->Control(IDC_UPGRADE)->isEnabled());
    EXPECT_EQ(view->GetProgressPos(), 0);
    // 3067 arrives through the window's event queue.
    ASSERT_TRUE(ProcessUntil([this] { return dialog->currentStep() == IDC_STEP1; }));
    EXPECT_EQ(view->GetProgressPos(), 10);
}

TEST_F(QtDialogViewTest, RedLabelFollowsTheNotifications) {
    OpenWaitingInStepOne();
    const std::vector<std::pair<int, int>> steps = {{3067, IDC_STEP1},
                                                    {3069, IDC_STEP2},
                                                    {3071, IDC_STEP3},
                                                    {3073, IDC_STEP4},
                                                    {3075, IDC_STEP5}};
    for (const auto& [code, red] : steps) {
        dialog->OnNotification(code);
        for (int id = IDC_STEP1; id <= IDC_STEP5; ++id) {
            EXPECT_EQ(TextColour(view->Control(id)),
                      id == red ? QColor(255, 0, 0) : QColor(0, 0, 0))
                << code << " " << id;
        }
    }
    std::vector<std::string> boxes;
    view->SetMessageBoxHook([&](const std::string& text) { boxes.push_back(text); });
    dialog->OnNotification(3070);  // clears the red label
    EXPECT_EQ(boxes, std::vector<std::string>{"没有新版本,请退出!"});
    for (int id = IDC_STEP1; id <= IDC_STEP5; ++id) {
        EXPECT_EQ(TextColour(view->Control(id)), QColor(0, 0, 0));
    }
}

TEST_F(QtDialogViewTest, MessageBoxIsOwnedByTheDialogWithCaptionPelmoAndOneOkButton) {
    OpenWaitingInStepOne();
    view->show();
    QString caption, text;
    QWidget* owner = nullptr;
    int buttons = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
        owner = box->parentWidget();
        buttons = static_cast<int>(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    dialog->OnNotification(3068);
    EXPECT_EQ(caption, QString("Pelmo"));
    EXPECT_EQ(text, QString::fromUtf8("下载升级配置文件失败,请检查网络连接!"));
    EXPECT_EQ(owner, view.get());
    EXPECT_EQ(buttons, 1);
    EXPECT_TRUE(view->Control(IDC_UPGRADE)->isEnabled());
}

TEST_F(QtDialogViewTest, EscapeClosesThroughOnCancel) {
    OpenWaitingInStepOne();
    view->show();
    qobject_cast<QCheckBox*>(view->Control(IDC_AUTOCHECK))->setChecked(true);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(view.get(), &escape);
    EXPECT_TRUE(dialog->closed());
    EXPECT_FALSE(view->isVisible());
    EXPECT_FALSE(dialog->RunUnderway());
    EXPECT_TRUE(ClientSettings::ReadAutoCheck());  // saved by the close path
}

TEST_F(QtDialogViewTest, CloseBoxAndCancelButtonCloseThroughOnCancel) {
    OpenWaitingInStepOne();
    view->show();
    view->close();
    EXPECT_TRUE(dialog->closed());
    EXPECT_FALSE(ClientSettings::ReadAutoCheck());

    auto second = std::make_unique<QtDialogView>();
    UpgradeDialog other(*second, std::make_shared<UpgradeEngine>(UpgradeSteps{}), false);
    other.OnInitDialog();
    second->show();
    qobject_cast<QPushButton*>(second->Control(IDC_CANCEL))->click();
    EXPECT_TRUE(other.closed());
}

TEST_F(QtDialogViewTest, IconIsDrawnAtEverySize) {
    const QIcon icon = ApplicationIcon();
    EXPECT_FALSE(icon.isNull());
    const QImage small = DrawApplicationIcon(16).toImage();
    const QImage large = DrawApplicationIcon(64).toImage();
    EXPECT_EQ(large.size(), QSize(64, 64));
    // Transparent corner, opaque tile, white arrow in the middle.
    EXPECT_EQ(qAlpha(large.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(large.pixel(8, 32)), 255);
    EXPECT_EQ(QColor(large.pixel(32, 40)), QColor(Qt::white));
    EXPECT_EQ(small.size(), QSize(16, 16));
}

// The README's picture: the real window in the middle of a download.
TEST_F(QtDialogViewTest, ScreenshotInTheMiddleOfADownload) {
    ClientSettings::WriteInstalledVersion(2003);
    ClientSettings::WriteAutoCheck(true);
    UpgradeSteps steps;
    steps.fetchManifest = [](UpgradeEngine& e) {
        e.totalDownloadBytes = 2 * 1457664;
        return 1;
    };
    steps.hasNewerVersion = [](UpgradeEngine&) { return 1; };
    steps.downloadPackages = [this](UpgradeEngine& e) {
        e.currentPackageBytes = 1457664;
        e.completedPackageBytes = 1457664;
        e.notifyWindow.ShowDownloadProgress(611000, 1457664, 1457664, 1457664);
        gate.Pass([&e] { return e.cancelRequested != 0; });
        return 0;
    };
    engine = std::make_shared<UpgradeEngine>(steps);
    dialog = std::make_unique<UpgradeDialog>(*view, engine, false);
    dialog->OnInitDialog();
    view->show();
    const QString expected = QString::fromUtf8("3.下载升级包文件 ( 2020.2k / 共2847.0k )");
    auto* label = qobject_cast<QLabel*>(view->Control(IDC_STEP3));
    ASSERT_TRUE(ProcessUntil([&] { return label->text() == expected; }));
    EXPECT_EQ(view->GetProgressPos(), 48);  // 20 + 40 x 70% of the bytes
    EXPECT_EQ(TextColour(label), QColor(255, 0, 0));

    const QString folder = QString(PELMO_BINARY_DIR) + "/docs";
    QDir().mkpath(folder);
    const QImage shot = view->grab().toImage();
    EXPECT_EQ(shot.size(), view->size());
    EXPECT_TRUE(shot.save(folder + "/upgrade_dialog.png"));
}

}  // namespace
}  // namespace pelmo::ui
