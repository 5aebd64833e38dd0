#include "core/event_names.h"
#include "core/field_names.h"
#include "core/kelv_main.h"
#include "windows/frm_logging.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using namespace kelvaro;

namespace {

const QString A = QStringLiteral("Counter_2sec (l08)");
const QString B = QStringLiteral("Relay Status (h08)");
const QString None = QStringLiteral("None");

} // namespace

class TestFrmLogging : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void freshRecord_emptyBoxes_okRefusesTheEmptyPattern();
    void opening_disablesOnlyBoxAfterNone_data();
    void opening_disablesOnlyBoxAfterNone();
    void choice_enablesAndDisablesFollowingBoxes_data();
    void choice_enablesAndDisablesFollowingBoxes();
    void typing_storedAsTypedWithoutChoiceRule_data();
    void typing_storedAsTypedWithoutChoiceRule();
    void typedEntry_finishedByLeavingOrEnter_runsNoChoiceRule_data();
    void typedEntry_finishedByLeavingOrEnter_runsNoChoiceRule();
    void ok_storesShownTexts_disabledBoxesIncluded();
    void ok_refusesPatternOutsideFolder_data();
    void ok_refusesPatternOutsideFolder();
    void cancel_storesNothing();

private:
    void openDialog();
    void storeFields(const QStringList& fields);
    QComboBox* box(const QString& name) const { return m_dialog->findChild<QComboBox*>(name); }
    QComboBox* fieldBox(int i) const { return box(QStringLiteral("Cmb_Fields_%1").arg(i)); }
    QStringList fieldTexts() const;
    QString enabledMask() const; // "1" enabled, "0" disabled, box 0 first
    void pick(int i, const QString& entry) const;
    void click(const char* button) const
    {
        QTest::mouseClick(m_dialog->findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
    }
    QString settingsPath() const { return m_folder->filePath(QStringLiteral("Settings.txt")); }

    Kelv_Main m_state;
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<SettingsKeeper> m_keeper;
    QPointer<Frm_Logging> m_dialog;
};

void TestFrmLogging::init()
{
    m_state = Kelv_Main{};
    Init_Field_Names(m_state.Field_Names);
    Init_Event_Names(m_state.Event_Names);
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
}

void TestFrmLogging::cleanup()
{
    delete m_dialog;
}

void TestFrmLogging::openDialog()
{
    m_keeper = std::make_unique<SettingsKeeper>(m_state.settings, m_folder->path());
    m_dialog = new Frm_Logging(m_state, *m_keeper);
    m_dialog->show();
}

void TestFrmLogging::storeFields(const QStringList& fields)
{
    for (int i = 0; i < LogFieldCount; ++i)
        m_state.settings.Log_Fields[i] = LooseValue::text(fields[i]);
}

QStringList TestFrmLogging::fieldTexts() const
{
    QStringList texts;
    for (int i = 0; i < LogFieldCount; ++i)
        texts << fieldBox(i)->currentText();
    return texts;
}

QString TestFrmLogging::enabledMask() const
{
    QString mask;
    for (int i = 0; i < LogFieldCount; ++i)
        mask += fieldBox(i)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
    return mask;
}

// What the box does when the operator picks an entry from its list.
void TestFrmLogging::pick(int i, const QString& entry) const
{
    QComboBox* field = fieldBox(i);
    const int index = field->findText(entry);
    QVERIFY2(index >= 0, qPrintable(entry));
    field->setCurrentIndex(index);
    field->setEditText(entry);
    Q_EMIT field->activated(index);
}

// An empty pattern would never log anything: refused like any other unusable pattern.
void TestFrmLogging::freshRecord_emptyBoxes_okRefusesTheEmptyPattern()
{
    openDialog();
    QPointer<Frm_Logging> dialog = m_dialog;
    QCOMPARE(box(u"Cmb_Filename"_s)->currentText(), QString());
    QCOMPARE(fieldTexts(), QStringList(LogFieldCount, QString()));
    QCOMPARE(box(u"Cmb_Event"_s)->currentText(), QString());
    QCOMPARE(enabledMask(), QStringLiteral("1111111111"));
    QCOMPARE(fieldBox(0)->count(), FieldNameCount);
    QCOMPARE(box(u"Cmb_Event"_s)->count(), EventNameCount);

    click("Cmd_Ok");
    auto* message = m_dialog->findChild<QMessageBox*>();
    QVERIFY(message);
    QVERIFY2(message->text().contains(QStringLiteral("empty")), qPrintable(message->text()));
    QVERIFY(m_state.settings == Settings_Record{});
    QVERIFY(!QFile::exists(settingsPath()));
    delete message;

    box(u"Cmb_Filename"_s)->setEditText(QStringLiteral("DD-MM-YYYY"));
    click("Cmd_Ok");
    const LooseValue empty = LooseValue::text(QString());
    QCOMPARE(m_state.settings.Log_NameFormat, LooseValue::text(QStringLiteral("DD-MM-YYYY")));
    for (const LooseValue& field : m_state.settings.Log_Fields)
        QCOMPARE(field, empty);
    QCOMPARE(m_state.settings.Log_Event, empty);
    QVERIFY(QFile::exists(settingsPath()));
    QTRY_VERIFY(dialog.isNull());
}

void TestFrmLogging::opening_disablesOnlyBoxAfterNone_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("enabled");
    QTest::newRow("None in box 1 disables box 2 only")
        << QStringList{A, None, A, B, A, B, A, B, A, B} << "1101111111";
    QTest::newRow("None in box 0") << QStringList{None, A, A, A, A, A, A, A, A, A} << "1011111111";
    QTest::newRow("None in the last box")
        << QStringList{A, A, A, A, A, A, A, A, A, None} << "1111111111";
    QTest::newRow("None in boxes 1 and 2")
        << QStringList{A, None, None, A, A, A, A, A, A, A} << "1100111111";
    QTest::newRow("every box None") << QStringList(LogFieldCount, None) << "1000000000";
    QTest::newRow("empty box disables nothing")
        << QStringList{A, u""_s, A, u""_s, A, A, A, A, A, A} << "1111111111";
    QTest::newRow("none in lower case disables nothing")
        << QStringList{A, u"none"_s, A, A, A, A, A, A, A, A} << "1111111111";
}

void TestFrmLogging::opening_disablesOnlyBoxAfterNone()
{
    QFETCH(QStringList, stored);
    QFETCH(QString, enabled);
    storeFields(stored);
    openDialog();
    QCOMPARE(fieldTexts(), stored);
    QCOMPARE(enabledMask(), enabled);
}

void TestFrmLogging::choice_enablesAndDisablesFollowingBoxes_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QStringList>("picks"); // "box=entry", in order
    QTest::addColumn<QString>("enabled");
    const QStringList allFields(LogFieldCount, A);
    QTest::newRow("None in box 2 disables 3 to 9")
        << allFields << QStringList{u"2=None"_s} << "1110000000";
    QTest::newRow("None in box 0 disables all others")
        << allFields << QStringList{u"0=None"_s} << "1000000000";
    QTest::newRow("field in box 2 again enables up to the next None")
        << QStringList{A, A, A, A, None, A, A, A, A, A}
        << QStringList{u"2=None"_s, u"2=Relay Status (h08)"_s} << "1111100000";
    QTest::newRow("field after None enables the following boxes")
        << QStringList{A, None, A, A, A, A, A, A, A, A} << QStringList{u"1=Sp3 (u16)"_s}
        << "1111111111";
    QTest::newRow("empty box does not stop enabling")
        << QStringList{A, A, None, u""_s, A, A, A, A, A, A}
        << QStringList{u"2=None"_s, u"2=Sp3 (u16)"_s} << "1111111111";
    QTest::newRow("field in box 9 changes nothing")
        << QStringList{A, A, A, None, A, A, A, A, A, A} << QStringList{u"9=Sp3 (u16)"_s}
        << "1111011111";
    QTest::newRow("None in box 9 changes nothing")
        << QStringList{A, A, A, None, A, A, A, A, A, A} << QStringList{u"9=None"_s} << "1111011111";
}

void TestFrmLogging::choice_enablesAndDisablesFollowingBoxes()
{
    QFETCH(QStringList, stored);
    QFETCH(QStringList, picks);
    QFETCH(QString, enabled);
    storeFields(stored);
    openDialog();
    QStringList expectedTexts = stored;
    for (const QString& choice : picks) {
        const int i = choice.section(QLatin1Char('='), 0, 0).toInt();
        const QString entry = choice.section(QLatin1Char('='), 1);
        pick(i, entry);
        expectedTexts[i] = entry;
    }
    QCOMPARE(enabledMask(), enabled);
    QCOMPARE(fieldTexts(), expectedTexts); // disabled boxes keep their texts
}

void TestFrmLogging::typing_storedAsTypedWithoutChoiceRule_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("None typed") << "None";
    QTest::newRow("start of a listed name") << "Counter";
    QTest::newRow("name not in the list") << "Boiler (u16)";
}

void TestFrmLogging::typing_storedAsTypedWithoutChoiceRule()
{
    QFETCH(QString, typed);
    storeFields(QStringList(LogFieldCount, A));
    m_state.settings.Log_NameFormat = LooseValue::text(QStringLiteral("DD-MM-YYYY"));
    openDialog();
    // Typed into the focused box of the active window, where completion would act.
    QVERIFY(QTest::qWaitForWindowActive(m_dialog));
    QLineEdit* edit = fieldBox(2)->lineEdit();
    fieldBox(2)->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    edit->selectAll();
    QTest::keyClicks(edit, typed);
    QCOMPARE(enabledMask(), QStringLiteral("1111111111"));

    click("Cmd_Ok");
    QCOMPARE(m_state.settings.Log_Fields[2], LooseValue::text(typed));
}

void TestFrmLogging::typedEntry_finishedByLeavingOrEnter_runsNoChoiceRule_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("picked"); // picked in the box before typing, if any
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("finish"); // the key that ends the typing
    QTest::addColumn<QString>("enabled");
    const QStringList allFields(LogFieldCount, A);
    const QStringList noneInBox1{A, None, A, A, A, A, A, A, A, A};
    QTest::newRow("None typed over a picked field, Tab")
        << allFields << 2 << B << None << int(Qt::Key_Tab) << "1111111111";
    QTest::newRow("None typed over a picked field, Enter")
        << allFields << 2 << B << None << int(Qt::Key_Return) << "1111111111";
    QTest::newRow("field typed after None, Tab")
        << noneInBox1 << 1 << QString() << B << int(Qt::Key_Tab) << "1101111111";
    QTest::newRow("field typed after None, Enter")
        << noneInBox1 << 1 << QString() << B << int(Qt::Key_Return) << "1101111111";
}

// A typed text that matches a list entry exactly makes the box signal `activated` when
// the typing ends; only a choice from the list may enable or disable boxes.
void TestFrmLogging::typedEntry_finishedByLeavingOrEnter_runsNoChoiceRule()
{
    QFETCH(QStringList, stored);
    QFETCH(int, box);
    QFETCH(QString, picked);
    QFETCH(QString, typed);
    QFETCH(int, finish);
    QFETCH(QString, enabled);
    storeFields(stored);
    openDialog();
    if (!picked.isEmpty())
        pick(box, picked);
    QVERIFY(QTest::qWaitForWindowActive(m_dialog));
    QComboBox* field = fieldBox(box);
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    field->lineEdit()->selectAll();
    QTest::keyClicks(field, typed);
    QTest::keyClick(field, Qt::Key(finish));
    QTRY_VERIFY(!field->hasFocus() || finish == Qt::Key_Return);
    QCOMPARE(field->currentText(), typed);
    QCOMPARE(enabledMask(), enabled);

    // A pick from the list still runs the rule.
    pick(box, None);
    QCOMPARE(enabledMask().mid(box + 1), QString(LogFieldCount - box - 1, QLatin1Char('0')));
}

void TestFrmLogging::ok_storesShownTexts_disabledBoxesIncluded()
{
    storeFields({A, B, A, B, A, B, A, B, A, B});
    m_state.settings.Log_Fields[4] = LooseValue::number(5); // shown and stored as text
    m_state.settings.Log_NameFormat = LooseValue::text(QStringLiteral("DD-MM-YYYY"));
    openDialog();
    QCOMPARE(fieldBox(4)->currentText(), QStringLiteral("5"));
    pick(2, None);
    box(u"Cmb_Filename"_s)->setEditText(QStringLiteral("MM-DD-YYYY"));
    box(u"Cmb_Event"_s)->setEditText(QStringLiteral("On Fields Change"));
    click("Cmd_Ok");

    const QStringList expected{A, B, None, B, u"5"_s, B, A, B, A, B};
    for (int i = 0; i < LogFieldCount; ++i)
        QCOMPARE(m_state.settings.Log_Fields[i], LooseValue::text(expected[i]));
    QCOMPARE(m_state.settings.Log_NameFormat, LooseValue::text(QStringLiteral("MM-DD-YYYY")));
    QCOMPARE(m_state.settings.Log_Event, LooseValue::text(QStringLiteral("On Fields Change")));
    QVERIFY(QFile::exists(settingsPath()));
}

void TestFrmLogging::ok_refusesPatternOutsideFolder_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::newRow("parent folder") << "../x";
    QTest::newRow("sub folder") << "logs/DD-MM-YYYY";
    QTest::newRow("parent folder alone") << "..";
}

void TestFrmLogging::ok_refusesPatternOutsideFolder()
{
    QFETCH(QString, pattern);
    const Settings_Record before = m_state.settings;
    openDialog();
    box(u"Cmb_Filename"_s)->setEditText(pattern);
    box(u"Cmb_Event"_s)->setEditText(QStringLiteral("On Counter Change"));
    click("Cmd_Ok");

    const auto* message = m_dialog->findChild<QMessageBox*>();
    QVERIFY(message);
    QVERIFY2(message->text().contains(pattern), qPrintable(message->text()));
    QVERIFY(m_state.settings == before);
    QVERIFY(!QFile::exists(settingsPath()));
    QVERIFY(m_dialog && m_dialog->isVisible());
}

void TestFrmLogging::cancel_storesNothing()
{
    storeFields(QStringList(LogFieldCount, A));
    const Settings_Record before = m_state.settings;
    openDialog();
    QPointer<Frm_Logging> dialog = m_dialog;
    pick(0, None);
    box(u"Cmb_Filename"_s)->setEditText(QStringLiteral("MM-DD-YYYY"));
    box(u"Cmb_Event"_s)->setEditText(QStringLiteral("On Fields Change"));
    click("Cmd_Cancel");

    QVERIFY(m_state.settings == before);
    QVERIFY(!QFile::exists(settingsPath()));
    QTRY_VERIFY(dialog.isNull());
}

QTEST_MAIN(TestFrmLogging)
#include "tst_frm_logging.moc"
