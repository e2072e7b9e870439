// SPDX-License-Identifier: MIT
// The device-side decoder against the window's own encoder. Built twice: against the decoder
// compiled as C (tst_framedecoder) and as C++ (tst_framedecoder_cxx).
#include "pidtune_frame.h"
#include "serial/parameterframe.h"

#include <QtEndian>
#include <QtTest>

#include <cstring>

namespace {

QByteArray frameBytes(int identifier, float value)
{
    const pidtune::ParameterFrame frame = pidtune::encodeParameterFrame(identifier, value);
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
}

QByteArray frameWithBits(int identifier, std::uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return frameBytes(identifier, value);
}

std::uint32_t bitsOf(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

struct Decoded
{
    QStringList frames; // each reported frame's raw bytes, in hex
    // Every reported identifier and value agree with the frame's own bytes, read here
    // independently of the decoder.
    bool fieldsMatchBytes = true;
};

Decoded feedAll(pidtune_frame_decoder &decoder, const QByteArray &input)
{
    Decoded decoded;
    for (int i = 0; i < input.size(); ++i) {
        pidtune_frame frame;
        if (!pidtune_frame_decoder_feed(&decoder, std::uint8_t(input[i]), &frame))
            continue;
        const QByteArray raw(reinterpret_cast<const char *>(frame.bytes), PIDTUNE_FRAME_SIZE);
        decoded.frames << hex(raw);
        if (raw != input.mid(i + 1 - PIDTUNE_FRAME_SIZE, PIDTUNE_FRAME_SIZE)
            || frame.identifier != std::uint8_t(raw[3])
            || bitsOf(frame.value) != qFromLittleEndian<quint32>(raw.constData() + 5))
            decoded.fieldsMatchBytes = false;
    }
    return decoded;
}

} // namespace

class FrameDecoderTest : public QObject
{
    Q_OBJECT

private slots:
    void roundTripsEveryIdentifier_data();
    void roundTripsEveryIdentifier();
    void findsFramesAmongNoise_data();
    void findsFramesAmongNoise();
};

void FrameDecoderTest::roundTripsEveryIdentifier_data()
{
    // Bit patterns rather than floats, so negative zero and NaN payloads are compared exactly.
    QTest::addColumn<quint32>("bits");
    QTest::newRow("zero") << bitsOf(0.0f);
    QTest::newRow("negative zero") << bitsOf(-0.0f);
    QTest::newRow("smallest subnormal") << bitsOf(std::numeric_limits<float>::denorm_min());
    QTest::newRow("-21474.8") << bitsOf(-21474.8f);
    QTest::newRow("every byte different") << bitsOf(-1.234567e-20f);
    QTest::newRow("NaN with payload") << std::uint32_t(0x7FC12345);
}

void FrameDecoderTest::roundTripsEveryIdentifier()
{
    QFETCH(quint32, bits);
    pidtune_frame_decoder decoder;
    pidtune_frame_decoder_init(&decoder);

    // All 256 frames back to back through one decoder: nothing between them to resynchronise on.
    for (int identifier = 0; identifier <= 255; ++identifier) {
        const QByteArray sent = frameWithBits(identifier, bits);
        pidtune_frame frame;
        std::memset(&frame, 0xA5, sizeof frame);
        for (int i = 0; i < PIDTUNE_FRAME_SIZE - 1; ++i) {
            QCOMPARE(pidtune_frame_decoder_feed(&decoder, std::uint8_t(sent[i]), &frame), 0);
            QCOMPARE(int(frame.identifier), 0xA5); // untouched until the frame is whole
        }
        QCOMPARE(pidtune_frame_decoder_feed(&decoder, std::uint8_t(sent[8]), &frame), 1);
        QCOMPARE(int(frame.identifier), identifier);
        QCOMPARE(bitsOf(frame.value), bits);
        QCOMPARE(hex(QByteArray(reinterpret_cast<const char *>(frame.bytes), 9)), hex(sent));
    }
    QCOMPARE(decoder.frames, 256u);
    QCOMPARE(decoder.skipped, 0u);
}

void FrameDecoderTest::findsFramesAmongNoise_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("frames");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<int>("unfinished"); // bytes of a possible frame still held at the end

    const QByteArray a = frameBytes(3, 1.5f); // 05 FA 06 03 04 00 00 C0 3F
    const QByteArray b = frameBytes(7, -21474.8f);
    const auto noise = [](const char *text) {
        return QByteArray::fromHex(text);
    };

    QTest::newRow("nothing") << QByteArray() << QStringList() << 0 << 0;
    QTest::newRow("noise before") << noise("00 FF 3F 04 06 FA") + a << QStringList {hex(a)} << 6
                                  << 0;
    QTest::newRow("noise between")
        << a + noise("00 11 FA 06 04") + b << QStringList {hex(a), hex(b)} << 5 << 0;
    QTest::newRow("start of a header after")
        << a + noise("05 FA") << QStringList {hex(a)} << 0 << 2;
    QTest::newRow("05 05 FA 06") << noise("05") + a << QStringList {hex(a)} << 1 << 0;
    QTest::newRow("05 FA 05 FA 06") << noise("05 FA") + a << QStringList {hex(a)} << 2 << 0;
    // The candidate 05 FA 06 05 fails on FA at the size's place; the real frame began at its
    // identifier byte.
    QTest::newRow("header where the identifier was expected")
        << noise("05 FA 06") + b << QStringList {hex(b)} << 3 << 0;
    QTest::newRow("header where the size was expected")
        << noise("05 FA 06 01 05") + a << QStringList {hex(a)} << 5 << 0;
    QTest::newRow("wrong follow count")
        << noise("05 FA 07 03 04 00 00 C0 3F") + a << QStringList {hex(a)} << 9 << 0;
    QTest::newRow("wrong value size")
        << noise("05 FA 06 03 05 00 00 C0 3F") + b << QStringList {hex(b)} << 9 << 0;
    const QByteArray headerLikeValue = frameWithBits(5, 0x0406FA05); // value bytes 05 FA 06 04
    QTest::newRow("value bytes that look like a header")
        << headerLikeValue + a << QStringList {hex(headerLikeValue), hex(a)} << 0 << 0;
    // Without a checksum nothing can tell: the value bytes are the next frame's header, and the
    // rest of that frame is noise.
    QTest::newRow("frame cut short swallows the next")
        << a.left(6) + a << QStringList {QStringLiteral("05 FA 06 03 04 00 05 FA 06")} << 6 << 0;
    QTest::newRow("header where the size was expected, at the end")
        << noise("05 FA 06 03 05 FA") << QStringList() << 4 << 2;
    QTest::newRow("only noise") << noise("FA 06 04 00 C0 3F 05") << QStringList() << 6 << 1;
}

void FrameDecoderTest::findsFramesAmongNoise()
{
    QFETCH(QByteArray, input);
    QFETCH(QStringList, frames);
    QFETCH(int, skipped);
    QFETCH(int, unfinished);

    pidtune_frame_decoder decoder;
    pidtune_frame_decoder_init(&decoder);
    const Decoded decoded = feedAll(decoder, input);
    QCOMPARE(decoded.frames, frames);
    QVERIFY(decoded.fieldsMatchBytes);
    QCOMPARE(decoder.frames, std::uint32_t(frames.size()));
    QCOMPARE(decoder.skipped, std::uint32_t(skipped));
    QCOMPARE(int(decoder.length), unfinished);
}

QTEST_APPLESS_MAIN(FrameDecoderTest)
#include "tst_framedecoder.moc"
