#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

// Files of the formats written by outside encoders: Debian's command-line tools, found in PATH,
// and libtiff.
namespace fixtures {

// Whether the program is installed (in PATH).
[[nodiscard]] bool HasProgram(const QString &program);

// The picture as an RGBA PNG handed to program, which writes the file read back. In arguments,
// "{in}" stands for the PNG's path and "{out}" for the output's path, which ends in outSuffix.
// Further pictures become "{in2}", "{in3}" ... (for animations). Empty bytes, with a test failure
// naming the program, if it fails.
[[nodiscard]] QByteArray EncodeWithProgram(const QList<QImage> &pictures, const QString &program,
    const QStringList &arguments, const QString &outSuffix);

// EncodeWithProgram for input files given as they are (a PNG with colour chunks, say), each
// written as "source<n>.png". Where extra is not null it is written to a file of its own,
// "{extra}" in arguments (a profile to embed, say).
[[nodiscard]] QByteArray EncodeFilesWithProgram(const QList<QByteArray> &inputs,
    const QString &program, const QStringList &arguments, const QString &outSuffix,
    const QByteArray &extra = QByteArray());

enum class TiffVariant {
    Rgb8,
    Rgba8, // unassociated (straight) alpha
    PremultipliedRgba8, // associated alpha
    Gray8, // the red channel
    Gray16, // the red channel, v * 257
    Rgb16, // v * 257
    Palette8, // at most 256 colours
    Cmyk8, // C = 255 - R and so on, K = 0
    TiledRgb8, // 16 x 16 tiles
    BigEndianDeflateRgb8,
    TwoPagesRgb8, // the picture, then its negative
};

// The picture (read as non-premultiplied ARGB) as a TIFF of the given variant, through libtiff;
// with an ICC profile in tag 34675 where icc is not empty.
[[nodiscard]] QByteArray EncodeTiff(
    const QImage &picture, TiffVariant variant, const QByteArray &icc = QByteArray());

} // namespace fixtures
