#include "link/board_session.h"
#include "store/settings_file.h"
#include "windows/frm_main.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvaro;

// The reader-selection entry: a file dialog that never disturbs the working folder.
class TestFrmMainMenus : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void acrobat_cancelChangesNothing();
    void acrobat_choiceIsStoredAndSaved();

private:
    QFileDialog* openReaderDialog(Frm_Main& window)
    {
        window.findChild<QAction*>(QStringLiteral("mnuAcrobat"))->trigger();
        auto* dialog = window.findChild<QFileDialog*>(QStringLiteral("CommonDialog"));
        if (dialog)
            dialog->setOption(QFileDialog::DontUseNativeDialog);
        return dialog;
    }
};

void TestFrmMainMenus::acrobat_cancelChangesNothing()
{
    QTemporaryDir dir;
    Kelv_Main state;
    state.settings.Acrobat_Path = QStringLiteral("/opt/reader");
    BoardSession session(state, dir.path());
    Frm_Main window(session);
    const QString cwd = QDir::currentPath();
    QFileDialog* dialog = openReaderDialog(window);
    QVERIFY(dialog);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Find Adobe Acrobat Reader"));
    QDir::setCurrent(QDir::tempPath()); // as a dialog may do while browsing
    dialog->reject();
    QCOMPARE(QDir::currentPath(), cwd);
    QCOMPARE(state.settings.Acrobat_Path, QStringLiteral("/opt/reader"));
    QVERIFY(!QFile::exists(dir.filePath(SettingsFileName)));
}

void TestFrmMainMenus::acrobat_choiceIsStoredAndSaved()
{
    QTemporaryDir dir;
    const QString reader = dir.filePath(QStringLiteral("my reader"));
    QFile program(reader);
    QVERIFY(program.open(QIODevice::WriteOnly));
    program.close();
    program.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    Kelv_Main state;
    BoardSession session(state, dir.path());
    Frm_Main window(session);
    const QString cwd = QDir::currentPath();
    QFileDialog* dialog = openReaderDialog(window);
    QVERIFY(dialog);
    QSignalSpy chosen(dialog, &QFileDialog::fileSelected);
    dialog->setDirectory(dir.path());
    dialog->selectFile(reader);
    QDir::setCurrent(QDir::tempPath());
    static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides accept()
    QTRY_COMPARE(chosen.size(), 1);
    QCOMPARE(QDir::currentPath(), cwd);
    QCOMPARE(state.settings.Acrobat_Path, reader);
    Settings_Record saved;
    LoadSettings(saved, dir.path());
    QCOMPARE(saved.Acrobat_Path, reader);
}

QTEST_MAIN(TestFrmMainMenus)
#include "tst_frm_main_menus.moc"
