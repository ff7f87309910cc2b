#include "imaging/tests/format_tools.h"

#include "imaging/tests/fixtures.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include <tiffio.h>

namespace fixtures {
namespace {

    QByteArray ReadBack(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    std::uint8_t Channel(QRgb pixel, int channel)
    {
        const int values[] = { qRed(pixel), qGreen(pixel), qBlue(pixel), qAlpha(pixel) };
        return static_cast<std::uint8_t>(values[channel]);
    }

    // One row of samples for the variant, 8 or 16 bits each.
    std::vector<std::uint8_t> TiffRow(const QImage &picture, int y, TiffVariant variant,
        const std::vector<QRgb> &palette, bool negative)
    {
        std::vector<std::uint8_t> row;
        for (int x = 0; x < picture.width(); ++x) {
            QRgb p = picture.pixel(x, y);
            if (negative)
                p = qRgba(255 - qRed(p), 255 - qGreen(p), 255 - qBlue(p), qAlpha(p));
            switch (variant) {
            case TiffVariant::Rgba8:
                for (int c = 0; c < 4; ++c)
                    row.push_back(Channel(p, c));
                break;
            case TiffVariant::PremultipliedRgba8: {
                const QRgb q = qPremultiply(p);
                for (int c = 0; c < 4; ++c)
                    row.push_back(Channel(q, c));
                break;
            }
            case TiffVariant::Gray8:
                row.push_back(Channel(p, 0));
                break;
            case TiffVariant::Gray16:
                row.push_back(Channel(p, 0)); // v * 257 has the same two bytes either way round
                row.push_back(Channel(p, 0));
                break;
            case TiffVariant::Rgb16:
                for (int c = 0; c < 3; ++c) {
                    row.push_back(Channel(p, c));
                    row.push_back(Channel(p, c));
                }
                break;
            case TiffVariant::Palette8:
                row.push_back(static_cast<std::uint8_t>(
                    std::find(palette.begin(), palette.end(), p) - palette.begin()));
                break;
            case TiffVariant::Cmyk8:
                for (int c = 0; c < 3; ++c)
                    row.push_back(static_cast<std::uint8_t>(255 - Channel(p, c)));
                row.push_back(0);
                break;
            default:
                for (int c = 0; c < 3; ++c)
                    row.push_back(Channel(p, c));
                break;
            }
        }
        return row;
    }

    bool WriteTiffPage(TIFF *tiff, const QImage &picture, TiffVariant variant, bool negative,
        const QByteArray &icc)
    {
        const auto width = static_cast<std::uint32_t>(picture.width());
        const auto height = static_cast<std::uint32_t>(picture.height());
        int samples = 3, bits = 8;
        std::uint16_t photometric = PHOTOMETRIC_RGB;
        std::vector<QRgb> palette;
        switch (variant) {
        case TiffVariant::Rgba8:
        case TiffVariant::PremultipliedRgba8:
            samples = 4;
            break;
        case TiffVariant::Gray8:
            samples = 1;
            photometric = PHOTOMETRIC_MINISBLACK;
            break;
        case TiffVariant::Gray16:
            samples = 1;
            bits = 16;
            photometric = PHOTOMETRIC_MINISBLACK;
            break;
        case TiffVariant::Rgb16:
            bits = 16;
            break;
        case TiffVariant::Palette8:
            samples = 1;
            photometric = PHOTOMETRIC_PALETTE;
            for (int y = 0; y < picture.height(); ++y)
                for (int x = 0; x < picture.width(); ++x)
                    if (std::find(palette.begin(), palette.end(), picture.pixel(x, y))
                        == palette.end())
                        palette.push_back(picture.pixel(x, y));
            if (palette.size() > 256)
                return false;
            break;
        case TiffVariant::Cmyk8:
            samples = 4;
            photometric = PHOTOMETRIC_SEPARATED;
            break;
        default:
            break;
        }
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION,
            variant == TiffVariant::BigEndianDeflateRgb8 ? COMPRESSION_ADOBE_DEFLATE
                                                         : COMPRESSION_NONE);
        if (samples == 4 && photometric == PHOTOMETRIC_RGB) {
            const std::uint16_t extra
                = variant == TiffVariant::Rgba8 ? EXTRASAMPLE_UNASSALPHA : EXTRASAMPLE_ASSOCALPHA;
            TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
        }
        if (photometric == PHOTOMETRIC_SEPARATED)
            TIFFSetField(tiff, TIFFTAG_INKSET, INKSET_CMYK);
        if (!icc.isEmpty())
            TIFFSetField(
                tiff, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(icc.size()), icc.constData());
        if (!palette.empty()) {
            std::vector<std::uint16_t> r(256), g(256), b(256);
            for (std::size_t i = 0; i < palette.size(); ++i) {
                r[i] = static_cast<std::uint16_t>(qRed(palette[i]) * 257);
                g[i] = static_cast<std::uint16_t>(qGreen(palette[i]) * 257);
                b[i] = static_cast<std::uint16_t>(qBlue(palette[i]) * 257);
            }
            TIFFSetField(tiff, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
        }
        if (variant == TiffVariant::TiledRgb8) {
            constexpr std::uint32_t kTile = 16;
            TIFFSetField(tiff, TIFFTAG_TILEWIDTH, kTile);
            TIFFSetField(tiff, TIFFTAG_TILELENGTH, kTile);
            std::vector<std::uint8_t> tile(kTile * kTile * 3);
            for (std::uint32_t ty = 0; ty < height; ty += kTile) {
                for (std::uint32_t tx = 0; tx < width; tx += kTile) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (std::uint32_t y = ty; y < std::min(height, ty + kTile); ++y) {
                        const auto row
                            = TiffRow(picture, static_cast<int>(y), variant, palette, negative);
                        for (std::uint32_t x = tx; x < std::min(width, tx + kTile); ++x)
                            std::copy_n(&row[x * 3], 3, &tile[((y - ty) * kTile + (x - tx)) * 3]);
                    }
                    if (TIFFWriteTile(tiff, tile.data(), tx, ty, 0, 0) < 0)
                        return false;
                }
            }
        } else {
            TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 4);
            for (std::uint32_t y = 0; y < height; ++y) {
                auto row = TiffRow(picture, static_cast<int>(y), variant, palette, negative);
                if (TIFFWriteScanline(tiff, row.data(), y, 0) < 0)
                    return false;
            }
        }
        return TIFFWriteDirectory(tiff) != 0;
    }

} // namespace

bool HasProgram(const QString &program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

QByteArray EncodeWithProgram(const QList<QImage> &pictures, const QString &program,
    const QStringList &arguments, const QString &outSuffix)
{
    QList<QByteArray> inputs;
    for (const QImage &picture : pictures)
        inputs.append(EncodePng(picture, PngVariant::Rgba8));
    return EncodeFilesWithProgram(inputs, program, arguments, outSuffix);
}

QByteArray EncodeFilesWithProgram(const QList<QByteArray> &inputs, const QString &program,
    const QStringList &arguments, const QString &outSuffix, const QByteArray &extra)
{
    QTemporaryDir dir;
    const QString out = dir.filePath("encoded" + outSuffix);
    QStringList resolved = arguments;
    for (qsizetype i = 0; i < inputs.size(); ++i) {
        const QString name = i == 0 ? QStringLiteral("{in}") : QStringLiteral("{in%1}").arg(i + 1);
        const QString in = dir.filePath(QStringLiteral("source%1.png").arg(i));
        WriteFile(in, inputs[i]);
        resolved.replaceInStrings(name, in);
    }
    if (!extra.isNull()) {
        const QString path = dir.filePath("extra");
        WriteFile(path, extra);
        resolved.replaceInStrings("{extra}", path);
    }
    resolved.replaceInStrings("{out}", out);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, resolved);
    const bool finished = process.waitForFinished(120'000);
    const QByteArray bytes = ReadBack(out);
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0
        || bytes.isEmpty()) {
        ADD_FAILURE() << program.toStdString() << " failed: " << process.readAll().toStdString();
        return {};
    }
    return bytes;
}

QByteArray EncodeTiff(const QImage &picture, TiffVariant variant, const QByteArray &icc)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("picture.tif");
    const char *mode = variant == TiffVariant::BigEndianDeflateRgb8 ? "wb" : "wl";
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), mode);
    if (!tiff) {
        ADD_FAILURE() << "libtiff cannot write " << path.toStdString();
        return {};
    }
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    bool written = WriteTiffPage(tiff, argb, variant, false, icc);
    if (written && variant == TiffVariant::TwoPagesRgb8)
        written = WriteTiffPage(tiff, argb, variant, true, icc);
    TIFFClose(tiff);
    if (!written) {
        ADD_FAILURE() << "libtiff could not write the variant";
        return {};
    }
    return ReadBack(path);
}

} // namespace fixtures
