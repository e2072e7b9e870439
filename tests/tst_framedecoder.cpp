// SPDX-License-Identifier: MIT
// The device-side decoder against the window's own encoder. Built twice: against the decoder
// compiled as C (tst_framedecoder) and as C++ (tst_framedecoder_cxx).
#include "pidtune_frame.h"
#include "serial/parameterframe.h"

#include <QtTest>

#include <cstring>

namespace {

QByteArray frame(int identifier, float value)
{
    const pidtune::ParameterFrame bytes = pidtune::encodeParameterFrame(identifier, value);
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace

class FrameDecoderTest : public QObject
{
    Q_OBJECT

private slots:
    void findsFramesAmongNoise_data();
    void findsFramesAmongNoise();
};

void FrameDecoderTest::findsFramesAmongNoise_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("frames");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<int>("unfinished"); // bytes of a possible frame still held at the end
    // clang-format off
    const QByteArray a = frame(3, 1.5f), b = frame(255, -1.234567e-20f); // every value byte differs
    const auto noise = [](const char *bytes) { return QByteArray::fromHex(bytes); };
    QTest::newRow("nothing") << QByteArray() << QStringList() << 0 << 0;
    QTest::newRow("back to back") << a + b + a << QStringList {hex(a), hex(b), hex(a)} << 0 << 0;
    QTest::newRow("noise before") << noise("00 FF 3F 04 06 FA") + a << QStringList {hex(a)} << 6 << 0;
    QTest::newRow("noise between") << a + noise("00 11 FA 06 04") + b << QStringList {hex(a), hex(b)} << 5 << 0;
    QTest::newRow("a header begun after") << a + noise("05 FA") << QStringList {hex(a)} << 0 << 2;
    QTest::newRow("05 05 FA 06") << noise("05") + a << QStringList {hex(a)} << 1 << 0;
    // The candidate 05 FA 06 05 fails at the size; the real frame began at its identifier.
    QTest::newRow("header where the identifier was") << noise("05 FA 06") + a << QStringList {hex(a)} << 3 << 0;
    QTest::newRow("wrong follow count") << noise("05 FA 07 03 04 00 00 C0 3F") + a << QStringList {hex(a)} << 9 << 0;
    QTest::newRow("wrong value size") << noise("05 FA 06 03 05 00 00 C0 3F") + b << QStringList {hex(b)} << 9 << 0;
    // Without a checksum nothing can tell: the value bytes are the next frame's header.
    QTest::newRow("frame cut short") << a.left(6) + a << QStringList {"05 FA 06 03 04 00 05 FA 06"} << 6 << 0;
    QTest::newRow("only noise") << noise("FA 06 04 00 C0 3F 05") << QStringList() << 6 << 1;
    // clang-format on
}

void FrameDecoderTest::findsFramesAmongNoise()
{
    QFETCH(QByteArray, input);
    QFETCH(QStringList, frames);
    QFETCH(int, skipped);
    QFETCH(int, unfinished);
    pidtune_frame_decoder decoder;
    pidtune_frame_decoder_init(&decoder);
    QStringList found;
    for (int i = 0; i < input.size(); ++i) {
        pidtune_frame got;
        std::memset(&got, 0xA5, sizeof got);
        if (!pidtune_frame_decoder_feed(&decoder, std::uint8_t(input[i]), &got)) {
            QCOMPARE(got.identifier, std::uint8_t(0xA5)); // untouched until a frame is whole
            continue;
        }
        const QByteArray raw(reinterpret_cast<const char *>(got.bytes), PIDTUNE_FRAME_SIZE);
        QCOMPARE(raw, input.mid(i + 1 - PIDTUNE_FRAME_SIZE, PIDTUNE_FRAME_SIZE));
        // The fields agree with the bytes: encoded again, they give the same frame.
        QCOMPARE(frame(got.identifier, got.value), raw);
        found << hex(raw);
    }
    QCOMPARE(found, frames);
    QCOMPARE(decoder.frames, std::uint32_t(frames.size()));
    QCOMPARE(decoder.skipped, std::uint32_t(skipped));
    QCOMPARE(int(decoder.length), unfinished);
}

QTEST_APPLESS_MAIN(FrameDecoderTest)
#include "tst_framedecoder.moc"
