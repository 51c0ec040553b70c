// Sealing of the secret fields: the sealed form of known texts, what unsealing makes of
// damaged, foreign and short texts, and round trips of random GBK texts.

#include "core/cloud/password_sealer.h"
#include "core/codec/gbk_codec.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;
using PasswordSealer::kSealingKey;

namespace {

// Characters 3 to 11 of MD5("KPWVRZQTMNE") = 475f50137c30115a35d9f874f520ea9f.
const QString kTag = u"5F50137C3"_s;

// A random text of GBK characters: ASCII, and double-byte characters drawn from the whole
// GBK range (lead 0x81-0xFE, trail 0x40-0xFE without 0x7F) that decode to one character
// and encode back to the same two bytes.
QString randomGbkText(QRandomGenerator& random) {
    QByteArray bytes;
    const int length = random.bounded(0, 40);
    while (bytes.size() < length) {
        if (random.bounded(3) == 0) {
            bytes += char(random.bounded(1, 0x80));
            continue;
        }
        QByteArray pair;
        pair += char(random.bounded(0x81, 0xFF));
        pair += char(random.bounded(0x40, 0xFF));
        if (pair[1] == '\x7F')
            continue;
        const QString character = Gbk::decode(pair);
        if (character.size() == 1 && character != u"\uFFFD"_s && Gbk::encode(character) == pair)
            bytes += pair;
    }
    return Gbk::decode(bytes);
}

} // namespace

class TestPasswordSealer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void tagOfTheKey();
    void sealing_data();
    void sealing();
    void unsealing_data();
    void unsealing();
    void randomRoundTrips();
};

void TestPasswordSealer::tagOfTheKey() {
    QCOMPARE(PasswordSealer::tag(kSealingKey), kTag);
    QCOMPARE(PasswordSealer::tag(u"OTHERKEY"_s), u"7BD55882B"_s);
}

void TestPasswordSealer::sealing_data() {
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("sealed");

    QTest::newRow("empty: the tag alone") << QString() << kTag;
    QTest::newRow("ASCII, two digits a byte") << u"abc"_s << u"9C9F9E"_s + kTag;
    QTest::newRow("blank and at sign") << u"p@ss w0rd"_s << u"8DBD8E8EDD8ACD8F99"_s + kTag;
    QTest::newRow("Chinese: four digits a character")
        << u"默认分组"_s << u"395135324A2B2A14"_s + kTag;
    QTest::newRow("masked byte below 16 keeps its leading zero") << u"鳌"_s << u"0A5C"_s + kTag;
}

void TestPasswordSealer::sealing() {
    QFETCH(QString, plain);
    QFETCH(QString, sealed);

    QCOMPARE(PasswordSealer::seal(plain, kSealingKey), sealed);
    QCOMPARE(PasswordSealer::seal(plain, kSealingKey).size(), 2 * Gbk::encode(plain).size() + 9);
    QCOMPARE(PasswordSealer::unseal(sealed, kSealingKey), plain);
}

void TestPasswordSealer::unsealing_data() {
    QTest::addColumn<QString>("sealed");
    QTest::addColumn<QString>("plain");

    QTest::newRow("lower-case digits") << u"9c9f9e"_s + kTag << u"abc"_s;
    QTest::newRow("lower-case tag") << u"9C9F9E"_s + kTag.toLower() << QString();
    QTest::newRow("sealed with another key") << u"9C9F9E7BD55882B"_s << QString();
    QTest::newRow("shorter than the tag") << u"5F50137"_s << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("never sealed") << u"password"_s << QString();
    QTest::newRow("tag alone") << kTag << QString();
    // A pair with a single digit d gives the byte d XOR 0xFD: 9 -> F4, 1 -> FC; the two
    // bytes F4 FC are the GBK form of 酎.
    QTest::newRow("odd length: last digit a pair of its own")
        << u"9C9F9"_s + kTag << u"ab"_s + Gbk::decode(QByteArray("\xF4"));
    QTest::newRow("non-digits skipped within pairs") << u"9g-1"_s + kTag << u"酎"_s;
    QTest::newRow("pair without digits is 0, masked to 0xFD")
        << u"zz"_s + kTag << Gbk::decode(QByteArray(1, char(0xFD)));
    QTest::newRow("zero byte ends the text") << u"9CFD9E"_s + kTag << u"a"_s;
}

void TestPasswordSealer::unsealing() {
    QFETCH(QString, sealed);
    QFETCH(QString, plain);

    QCOMPARE(PasswordSealer::unseal(sealed, kSealingKey), plain);
}

void TestPasswordSealer::randomRoundTrips() {
    QRandomGenerator random(20241210);
    for (int i = 0; i < 500; ++i) {
        const QString plain = randomGbkText(random);
        const QString sealed = PasswordSealer::seal(plain, kSealingKey);
        QCOMPARE(sealed, PasswordSealer::seal(plain, kSealingKey));
        QCOMPARE(sealed.size(), 2 * Gbk::encode(plain).size() + 9);
        QVERIFY(sealed.endsWith(kTag));
        QCOMPARE(PasswordSealer::unseal(sealed, kSealingKey), plain);
        QCOMPARE(PasswordSealer::unseal(sealed.toLower().chopped(9) + kTag, kSealingKey), plain);
        QCOMPARE(PasswordSealer::unseal(sealed, u"OTHERKEY"_s), QString());
    }
}

QTEST_GUILESS_MAIN(TestPasswordSealer)
#include "tst_password_sealer.moc"
