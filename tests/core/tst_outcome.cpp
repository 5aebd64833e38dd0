#include "core/outcome.h"

#include <QTest>
#include <optional>

using namespace kelvaro;

class TestOutcome : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void textOutcome_valueIsNeverTakenForAReason_data();
    void textOutcome_valueIsNeverTakenForAReason();
    void failure_keepsItsReasonInAnyOutcome();
    void valueOfAFailure_throwsInsteadOfInventingOne();
    void voidOutcome_startsAsSuccess();
};

void TestOutcome::textOutcome_valueIsNeverTakenForAReason_data()
{
    // A file name or a text that is the value must not read as a refusal, and a refusal
    // without words must still be a refusal.
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("text");
    QTest::newRow("a name") << false << QStringLiteral("07-12-2026.txt");
    QTest::newRow("an empty value") << false << QString();
    QTest::newRow("a refusal") << true << QStringLiteral("the pattern is empty");
    QTest::newRow("a refusal without words") << true << QString();
}

void TestOutcome::textOutcome_valueIsNeverTakenForAReason()
{
    QFETCH(bool, refused);
    QFETCH(QString, text);
    const Outcome<QString> outcome = refused ? Outcome<QString>(failure(text)) : text;
    QCOMPARE(bool(outcome), !refused);
    QCOMPARE(outcome == text, !refused); // a reason never equals a value
    if (refused) {
        QCOMPARE(outcome.reason(), text);
    } else {
        QCOMPARE(outcome.value(), text);
        QVERIFY(outcome.reason().isEmpty());
    }
}

void TestOutcome::failure_keepsItsReasonInAnyOutcome()
{
    const QString why = QStringLiteral("R0 must not be 0.");
    const Outcome<int> number = failure(why);
    const Outcome<std::optional<int>> optional = failure(why);
    const Outcome<void> done = failure(why);
    QVERIFY(!number && !optional && !done);
    QCOMPARE(number.reason(), why);
    QCOMPARE(optional.reason(), why);
    QCOMPARE(done.reason(), why);

    // A value held as an empty optional is still a value, not a failure.
    const Outcome<std::optional<int>> nothingHeld = std::optional<int>();
    QVERIFY(nothingHeld);
}

void TestOutcome::valueOfAFailure_throwsInsteadOfInventingOne()
{
    const Outcome<int> refused = failure(QStringLiteral("no"));
    QVERIFY_THROWS_EXCEPTION(std::bad_optional_access, refused.value());
}

void TestOutcome::voidOutcome_startsAsSuccess()
{
    // A pass that wrote nothing reports a default outcome: it must not read as a failure.
    const Outcome<void> untouched;
    QVERIFY(untouched);
    QVERIFY(untouched.reason().isEmpty());
    QVERIFY(Outcome<void>::success());
    QVERIFY(!Outcome<void>::failure(QStringLiteral("disk full")));
}

QTEST_GUILESS_MAIN(TestOutcome)
#include "tst_outcome.moc"
