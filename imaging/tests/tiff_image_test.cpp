// TIFF read from its samples: depths past 8 bits, floating point, CMYK with alpha and CIELab,
// written through libtiff sample by sample, each pixel checked against values computed here.
#include "imaging/mod_gdi_plus_resize.h"

#include "imaging/tests/fixtures.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <lcms2.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr analysis::ColourValue kSlate = 0x996633; // 0x00BBGGRR of kBg
constexpr QRgb kBg = 0xFF336699;
constexpr int kWidth = 20;
constexpr int kHeight = 18;

// Sample s of the pixel at x, y, as the number stored (integers) or the value (floating point).
using SampleAt = std::function<double(int x, int y, int s)>;
// The pixel a reader must show, already over kBg.
using PixelAt = std::function<QRgb(int x, int y)>;

struct TiffLayout
{
    std::uint16_t photometric = PHOTOMETRIC_RGB;
    std::uint16_t bits = 16;
    std::uint16_t samples = 3;
    std::uint16_t format = SAMPLEFORMAT_UINT;
    std::vector<std::uint16_t> extra; // EXTRASAMPLES
    bool separatePlanes = false;
    bool tiled = false; // 16 x 16 tiles
    bool bigEndian = false;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    QByteArray icc;
    std::uint16_t compression = COMPRESSION_LZW;
    std::uint32_t group3Options = 0; // T4Options, for Group 3 fax
    int faxMode = -1; // how libtiff's fax coder lays rows out, when not its default
};

// One row (or one plane's row) of samples packed as TIFF stores them, in host order.
std::vector<std::uint8_t> PackSamples(const TiffLayout &layout, const std::vector<double> &values)
{
    std::vector<std::uint8_t> bytes;
    const auto append = [&bytes](auto value) {
        const auto *raw = reinterpret_cast<const std::uint8_t *>(&value);
        bytes.insert(bytes.end(), raw, raw + sizeof value);
    };
    if (layout.format == SAMPLEFORMAT_IEEEFP) {
        for (double v : values)
            layout.bits == 32 ? append(static_cast<float>(v)) : append(v);
        return bytes;
    }
    if (layout.bits == 8 || layout.bits == 16 || layout.bits == 32) {
        for (double v : values) {
            const auto n = static_cast<std::uint64_t>(v);
            if (layout.bits == 8)
                append(static_cast<std::uint8_t>(n));
            else if (layout.bits == 16)
                append(static_cast<std::uint16_t>(n));
            else
                append(static_cast<std::uint32_t>(n));
        }
        return bytes;
    }
    bytes.assign((values.size() * layout.bits + 7) / 8, 0);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto n = static_cast<std::uint32_t>(values[i]);
        for (int b = 0; b < layout.bits; ++b) {
            const std::size_t bit = i * layout.bits + b;
            if ((n >> (layout.bits - 1 - b)) & 1u)
                bytes[bit / 8] |= static_cast<std::uint8_t>(0x80u >> (bit % 8));
        }
    }
    return bytes;
}

// Samples of row y from x0 for count pixels: all of them, or one plane's.
std::vector<double> RowValues(
    const TiffLayout &layout, const SampleAt &sample, int y, int x0, int count, int plane)
{
    std::vector<double> values;
    for (int x = x0; x < x0 + count; ++x) {
        for (int s = 0; s < layout.samples; ++s) {
            if (plane < 0 || s == plane)
                values.push_back(x < kWidth && y < kHeight ? sample(x, y, s) : 0);
        }
    }
    return values;
}

void SetTags(TIFF *tiff, const TiffLayout &layout)
{
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, layout.bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, layout.format);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, layout.photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG,
        layout.separatePlanes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, layout.orientation);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, layout.compression);
    if (layout.compression == COMPRESSION_CCITTFAX3)
        TIFFSetField(tiff, TIFFTAG_GROUP3OPTIONS, layout.group3Options);
    if (layout.faxMode >= 0)
        TIFFSetField(tiff, TIFFTAG_FAXMODE, layout.faxMode);
    if (!layout.extra.empty())
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, static_cast<std::uint16_t>(layout.extra.size()),
            layout.extra.data());
    if (layout.photometric == PHOTOMETRIC_SEPARATED)
        TIFFSetField(tiff, TIFFTAG_INKSET, INKSET_CMYK);
    if (!layout.icc.isEmpty())
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(layout.icc.size()),
            layout.icc.constData());
    if (layout.tiled) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 5);
    }
}

bool WritePixels(TIFF *tiff, const TiffLayout &layout, const SampleAt &sample)
{
    const int planes = layout.separatePlanes ? layout.samples : 1;
    for (int plane = 0; plane < planes; ++plane) {
        const int only = layout.separatePlanes ? plane : -1;
        if (!layout.tiled) {
            for (int y = 0; y < kHeight; ++y) {
                auto row = PackSamples(layout, RowValues(layout, sample, y, 0, kWidth, only));
                if (TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(y),
                        static_cast<std::uint16_t>(plane))
                    < 0)
                    return false;
            }
            continue;
        }
        for (int ty = 0; ty < kHeight; ty += 16) {
            for (int tx = 0; tx < kWidth; tx += 16) {
                std::vector<std::uint8_t> tile;
                for (int y = ty; y < ty + 16; ++y) {
                    const auto row
                        = PackSamples(layout, RowValues(layout, sample, y, tx, 16, only));
                    tile.insert(tile.end(), row.begin(), row.end());
                }
                if (TIFFWriteTile(tiff, tile.data(), static_cast<std::uint32_t>(tx),
                        static_cast<std::uint32_t>(ty), 0, static_cast<std::uint16_t>(plane))
                    < 0)
                    return false;
            }
        }
    }
    return TIFFWriteDirectory(tiff) != 0;
}

QByteArray EncodeSamples(const TiffLayout &layout, const SampleAt &sample)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("samples.tif");
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), layout.bigEndian ? "wb" : "wl");
    if (!tiff) {
        ADD_FAILURE() << "libtiff cannot write " << path.toStdString();
        return {};
    }
    SetTags(tiff, layout);
    const bool written = WritePixels(tiff, layout, sample);
    TIFFClose(tiff);
    if (!written) {
        ADD_FAILURE() << "libtiff could not write the samples";
        return {};
    }
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A spread of values over the whole range, different per channel, that hits the rounding
// boundaries taking the high byte gets wrong.
double Spread(int x, int y, int s, double max)
{
    const double step = (x + kWidth * y) * 0.61803398875 + s * 0.2113;
    return std::floor((step - std::floor(step)) * (max + 1));
}

int To8(double normalised)
{
    return static_cast<int>(std::lround(std::clamp(normalised, 0.0, 1.0) * 255));
}

// Source-over by the exact formula, of 8-bit values already rounded.
QRgb Over(int r, int g, int b, int a)
{
    const auto mix = [a](int c, int under) {
        return static_cast<int>(std::lround((c * a + under * (255 - a)) / 255.0));
    };
    return qRgb(mix(r, qRed(kBg)), mix(g, qGreen(kBg)), mix(b, qBlue(kBg)));
}

// sRGB of a D50 L*a*b* colour through lcms2's floating-point transform, clipped and rounded.
QRgb LabToSrgb(double l, double a, double b)
{
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = cmsCreateTransform(
        lab, TYPE_Lab_DBL, srgb, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
    const cmsCIELab in { l, a, b };
    double out[3] = {};
    cmsDoTransform(transform, &in, out, 1);
    cmsDeleteTransform(transform);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    return qRgb(To8(out[0]), To8(out[1]), To8(out[2]));
}

// A Display P3 profile and lcms2's floating-point transform from its 16-bit numbers.
QByteArray DisplayP3()
{
    const cmsCIExyY white { 0.3127, 0.3290, 1 };
    const cmsCIExyYTRIPLE p3 { { 0.680, 0.320, 1 }, { 0.265, 0.690, 1 }, { 0.150, 0.060, 1 } };
    const cmsFloat64Number srgbCurve[] = { 2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045 };
    cmsToneCurve *curve = cmsBuildParametricToneCurve(nullptr, 4, srgbCurve);
    cmsToneCurve *curves[] = { curve, curve, curve };
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &p3, curves);
    cmsFreeToneCurve(curve);
    cmsUInt32Number length = 0;
    cmsSaveProfileToMem(profile, nullptr, &length);
    QByteArray bytes(static_cast<qsizetype>(length), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &length);
    cmsCloseProfile(profile);
    return bytes;
}

QRgb P3ToSrgb(const QByteArray &icc, std::uint16_t r, std::uint16_t g, std::uint16_t b)
{
    cmsHPROFILE p3
        = cmsOpenProfileFromMem(icc.constData(), static_cast<cmsUInt32Number>(icc.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = cmsCreateTransform(
        p3, TYPE_RGB_16, srgb, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
    const std::uint16_t in[3] = { r, g, b };
    double out[3] = {};
    cmsDoTransform(transform, in, out, 1);
    cmsDeleteTransform(transform);
    cmsCloseProfile(p3);
    cmsCloseProfile(srgb);
    return qRgb(To8(out[0]), To8(out[1]), To8(out[2]));
}

struct TiffCase
{
    std::string name;
    TiffLayout layout;
    SampleAt sample;
    PixelAt expected;
    int tolerance = 0;
};

void PrintTo(const TiffCase &c, std::ostream *os) { *os << c.name; }

// Grey, RGB (and alpha) cases: the samples scaled from 0..max to 0..255, rounded to nearest.
TiffCase Scaled(std::string name, TiffLayout layout, double max)
{
    const bool alpha = !layout.extra.empty();
    const bool associated = alpha && layout.extra[0] == EXTRASAMPLE_ASSOCALPHA;
    const int colours = layout.samples - (alpha ? 1 : 0);
    SampleAt sample = [=](int x, int y, int s) {
        const double v = Spread(x, y, s, max);
        // Premultiplied colours never exceed their alpha.
        return associated && s < colours ? std::floor(v * Spread(x, y, colours, max) / max) : v;
    };
    PixelAt expected = [=](int x, int y) {
        const double a = alpha ? sample(x, y, colours) / max : 1.0;
        int c[3];
        for (int i = 0; i < 3; ++i) {
            double v = sample(x, y, colours == 1 ? 0 : i) / max;
            if (layout.photometric == PHOTOMETRIC_MINISWHITE)
                v = 1 - v;
            if (associated)
                v = a > 0 ? v / a : 0;
            c[i] = To8(v);
        }
        return Over(c[0], c[1], c[2], To8(a));
    };
    return { std::move(name), layout, sample, expected };
}

TiffLayout Layout(std::uint16_t photometric, std::uint16_t bits, std::uint16_t samples,
    std::vector<std::uint16_t> extra = {})
{
    TiffLayout layout;
    layout.photometric = photometric;
    layout.bits = bits;
    layout.samples = samples;
    layout.extra = std::move(extra);
    return layout;
}

template <class T> TiffLayout With(TiffLayout layout, T TiffLayout::*field, T value)
{
    layout.*field = value;
    return layout;
}

TiffCase FloatCase(std::string name, TiffLayout layout)
{
    // From below 0 to above 1, which clip; as the file holds them (32 bits round the value).
    const bool single = layout.bits == 32;
    SampleAt sample = [single](int x, int y, int s) {
        const double v = Spread(x, y, s, 999) / 700 - 0.2;
        return single ? static_cast<double>(static_cast<float>(v)) : v;
    };
    const bool grey = layout.samples == 1;
    PixelAt expected = [=](int x, int y) {
        return qRgb(
            To8(sample(x, y, 0)), To8(sample(x, y, grey ? 0 : 1)), To8(sample(x, y, grey ? 0 : 2)));
    };
    return { std::move(name), layout, sample, expected };
}

// CMYK: each channel (1 - ink) * (1 - black).
TiffCase CmykCase(std::string name, TiffLayout layout, double max)
{
    const bool alpha = layout.samples == 5;
    SampleAt sample = [=](int x, int y, int s) { return Spread(x, y, s, max); };
    PixelAt expected = [=](int x, int y) {
        const double white = 1 - sample(x, y, 3) / max;
        int c[3];
        for (int i = 0; i < 3; ++i)
            c[i] = To8((1 - sample(x, y, i) / max) * white);
        return Over(c[0], c[1], c[2], alpha ? To8(sample(x, y, 4) / max) : 255);
    };
    return { std::move(name), layout, sample, expected };
}

// CIELab with signed a*, b* (photometric 8) or ICC's offset ones (9), 8 or 16 bits.
TiffCase LabCase(std::string name, std::uint16_t photometric, std::uint16_t bits)
{
    const double lMax = bits == 8 ? 255 : 65535;
    const double chromaScale = bits == 8 ? 1 : 256;
    // L from the spread; a*, b* from -100 to 100 so some colours fall outside sRGB.
    const auto lab = [=](int x, int y, int s) {
        if (s == 0)
            return Spread(x, y, 0, lMax);
        return std::round((Spread(x, y, s, 200) - 100) * chromaScale) / chromaScale;
    };
    SampleAt sample = [=](int x, int y, int s) {
        const double v = lab(x, y, s);
        if (s == 0)
            return v;
        if (photometric == PHOTOMETRIC_ICCLAB)
            return (v + 128) * chromaScale;
        const double stored = v * chromaScale;
        return stored < 0 ? stored + lMax + 1 : stored; // two's complement
    };
    PixelAt expected = [=](int x, int y) {
        return LabToSrgb(lab(x, y, 0) * 100 / lMax, lab(x, y, 1), lab(x, y, 2));
    };
    return { std::move(name), Layout(photometric, bits, 3), sample, expected, 1 };
}

TiffCase DisplayP3Case()
{
    const QByteArray icc = DisplayP3();
    SampleAt sample = [](int x, int y, int s) { return Spread(x, y, s, 65535); };
    PixelAt expected = [=](int x, int y) {
        const auto at = [&](int s) { return static_cast<std::uint16_t>(sample(x, y, s)); };
        return P3ToSrgb(icc, at(0), at(1), at(2));
    };
    return { "Rgb16DisplayP3", With(Layout(PHOTOMETRIC_RGB, 16, 3), &TiffLayout::icc, icc), sample,
        expected, 1 };
}

// The picture stored bottom row first and mirrored, which the reader must turn back.
TiffCase Oriented(TiffCase c, std::uint16_t orientation)
{
    c.layout.orientation = orientation;
    const SampleAt stored = c.sample;
    const bool bottomUp = orientation == ORIENTATION_BOTLEFT || orientation == ORIENTATION_BOTRIGHT;
    const bool mirrored
        = orientation == ORIENTATION_TOPRIGHT || orientation == ORIENTATION_BOTRIGHT;
    c.sample = [=](int x, int y, int s) {
        return stored(mirrored ? kWidth - 1 - x : x, bottomUp ? kHeight - 1 - y : y, s);
    };
    return c;
}

// Tags naming an alpha sample the pixels have no room for: read as the colours alone.
TiffCase AlphaWithoutRoom(TiffLayout layout)
{
    TiffCase c = Scaled("Rgb16AlphaWithoutRoom", layout, 65535);
    c.layout.extra = { EXTRASAMPLE_UNASSALPHA };
    return c;
}

// Bilevel fax, white 0: Group 3 written with and without end-of-line codes.
TiffCase FaxCase(
    std::string name, std::uint16_t compression, std::uint32_t group3Options, int faxMode = -1)
{
    TiffLayout layout = Layout(PHOTOMETRIC_MINISWHITE, 1, 1);
    layout.compression = compression;
    layout.group3Options = group3Options;
    layout.faxMode = faxMode;
    return Scaled(std::move(name), layout, 1);
}

std::vector<TiffCase> Cases()
{
    const std::vector<std::uint16_t> straight { EXTRASAMPLE_UNASSALPHA };
    const std::vector<std::uint16_t> premultiplied { EXTRASAMPLE_ASSOCALPHA };
    const TiffLayout grey16 = Layout(PHOTOMETRIC_MINISBLACK, 16, 1);
    const TiffLayout rgb16 = Layout(PHOTOMETRIC_RGB, 16, 3);
    const TiffLayout floatRgb = With(Layout(PHOTOMETRIC_RGB, 32, 3), &TiffLayout::format,
        static_cast<std::uint16_t>(SAMPLEFORMAT_IEEEFP));
    return {
        Scaled("Grey16", grey16, 65535),
        Scaled("Grey16BigEndian", With(grey16, &TiffLayout::bigEndian, true), 65535),
        Scaled("Grey16MinIsWhite", Layout(PHOTOMETRIC_MINISWHITE, 16, 1), 65535),
        Scaled("GreyAlpha16", Layout(PHOTOMETRIC_MINISBLACK, 16, 2, straight), 65535),
        Scaled("Rgb16", rgb16, 65535),
        Scaled("Rgb16Tiled", With(rgb16, &TiffLayout::tiled, true), 65535),
        Scaled("Rgb16SeparatePlanes", With(rgb16, &TiffLayout::separatePlanes, true), 65535),
        Scaled("Rgba16", Layout(PHOTOMETRIC_RGB, 16, 4, straight), 65535),
        AlphaWithoutRoom(rgb16),
        Scaled("Rgba16Premultiplied", Layout(PHOTOMETRIC_RGB, 16, 4, premultiplied), 65535),
        Oriented(Scaled("Rgb16BottomUp", rgb16, 65535), ORIENTATION_BOTLEFT),
        Oriented(Scaled("Rgb16BottomRight", rgb16, 65535), ORIENTATION_BOTRIGHT),
        Scaled("Grey12", Layout(PHOTOMETRIC_MINISBLACK, 12, 1), 4095),
        Scaled("Rgb12Tiled", With(Layout(PHOTOMETRIC_RGB, 12, 3), &TiffLayout::tiled, true), 4095),
        Scaled("Grey32", Layout(PHOTOMETRIC_MINISBLACK, 32, 1), 4294967295.0),
        Scaled("Rgb32", Layout(PHOTOMETRIC_RGB, 32, 3), 4294967295.0),
        FloatCase("FloatRgb", floatRgb),
        FloatCase("FloatGrey",
            With(Layout(PHOTOMETRIC_MINISBLACK, 32, 1), &TiffLayout::format,
                static_cast<std::uint16_t>(SAMPLEFORMAT_IEEEFP))),
        FloatCase("DoubleRgb", With(floatRgb, &TiffLayout::bits, static_cast<std::uint16_t>(64))),
        FloatCase("FloatRgbSeparatePlanes", With(floatRgb, &TiffLayout::separatePlanes, true)),
        CmykCase("Cmyk16", Layout(PHOTOMETRIC_SEPARATED, 16, 4), 65535),
        CmykCase("Cmyk8WithAlpha", Layout(PHOTOMETRIC_SEPARATED, 8, 5, straight), 255),
        CmykCase("Cmyk16WithAlpha", Layout(PHOTOMETRIC_SEPARATED, 16, 5, straight), 65535),
        LabCase("CieLab8", PHOTOMETRIC_CIELAB, 8),
        LabCase("CieLab16", PHOTOMETRIC_CIELAB, 16),
        LabCase("IccLab8", PHOTOMETRIC_ICCLAB, 8),
        DisplayP3Case(),
        FaxCase("FaxGroup3", COMPRESSION_CCITTFAX3, 0),
        FaxCase("FaxGroup3TwoDimensional", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING),
        FaxCase("FaxGroup3ByteAlignedEndOfLines", COMPRESSION_CCITTFAX3, GROUP3OPT_FILLBITS),
        FaxCase(
            "FaxGroup3WithoutEndOfLines", COMPRESSION_CCITTFAX3, 0, FAXMODE_NORTC | FAXMODE_NOEOL),
        FaxCase("FaxGroup3WithoutEndOfLinesByteAligned", COMPRESSION_CCITTFAX3, GROUP3OPT_FILLBITS,
            FAXMODE_NORTC | FAXMODE_NOEOL | FAXMODE_BYTEALIGN),
        FaxCase("FaxGroup4", COMPRESSION_CCITTFAX4, 0),
    };
}

class TiffSamples : public testing::TestWithParam<TiffCase>
{
protected:
    void SetUp() override { token = modGDIPlusResize::GdiPlusOpen(); }
    void TearDown() override { modGDIPlusResize::GdiPlusClose(token); }

    // The loaded picture, or a null image for the load error.
    static QImage Load(const QByteArray &bytes, imaging::ColourReport *report = nullptr)
    {
        std::int32_t width = -1, height = -1;
        try {
            return modGDIPlusResize::LoadPictureScaled(
                bytes, QStringLiteral("samples.tif"), width, height, kSlate, report);
        } catch (const modGDIPlusResize::LoadError &) {
            return {};
        }
    }

    std::uintptr_t token = 0;
};

TEST_P(TiffSamples, EveryPixelAsComputed)
{
    const TiffCase &c = GetParam();
    const QImage picture = Load(EncodeSamples(c.layout, c.sample));
    ASSERT_FALSE(picture.isNull()) << "the load error";
    ASSERT_EQ(picture.size(), QSize(kWidth, kHeight));
    int wrong = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const QRgb got = picture.pixel(x, y);
            const QRgb want = c.expected(x, y);
            const int off = std::max({ std::abs(qRed(got) - qRed(want)),
                std::abs(qGreen(got) - qGreen(want)), std::abs(qBlue(got) - qBlue(want)) });
            if (off > c.tolerance && ++wrong <= 5)
                ADD_FAILURE() << std::hex << "at " << std::dec << x << "," << y << ": 0x"
                              << std::hex << got << " for 0x" << want;
        }
    }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Tiff, TiffSamples, testing::ValuesIn(Cases()),
    [](const testing::TestParamInfo<TiffCase> &info) { return info.param.name; });

// CIELab is converted to sRGB and named so.
TEST_F(TiffSamples, CieLabIsConvertedAndNamed)
{
    imaging::ColourReport report;
    const TiffCase lab = LabCase("CieLab8", PHOTOMETRIC_CIELAB, 8);
    const QImage picture = Load(EncodeSamples(lab.layout, lab.sample), &report);
    ASSERT_FALSE(picture.isNull());
    EXPECT_TRUE(report.converted);
    EXPECT_EQ(report.sourceName, "CIELab");
    // Pure white stays pure white (the rough conversion gave 255,252,222).
    const SampleAt white = [](int, int, int s) { return s == 0 ? 255.0 : 0.0; };
    const QImage whitePicture = Load(EncodeSamples(lab.layout, white));
    ASSERT_FALSE(whitePicture.isNull());
    EXPECT_EQ(whitePicture.pixel(3, 3), qRgb(255, 255, 255));
}

} // namespace
