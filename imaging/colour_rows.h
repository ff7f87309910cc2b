#pragma once

#include "imaging/colour_kernel.h"
#include "imaging/colour_lcms.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The per-pixel work of the conversion to sRGB: for matrix-and-curve sources a source stage takes
// stored numbers to linear sRGB and a shared encoder clips, counts and writes 8-bit sRGB; other
// profiles reach linear sRGB through a grid sampled from lcms2. Rows are handled a block at a time
// so every step is a plain loop over small arrays.
namespace imaging::colour {

inline constexpr int kBlockPixels = 256;

// Linear-light sRGB of up to kBlockPixels pixels, not yet clipped (1.0 = white).
struct LinearBlock
{
    alignas(32) float r[kBlockPixels];
    alignas(32) float g[kBlockPixels];
    alignas(32) float b[kBlockPixels];
};

class SourceStage
{
public:
    virtual ~SourceStage() = default;
    // n (at most kBlockPixels) 0xAARRGGBB pixels to linear sRGB.
    virtual void Linear8(const std::uint32_t *pixels, int n, LinearBlock &out) = 0;
    // n (at most kBlockPixels) pixels of 16-bit R, G, B, A samples to linear sRGB.
    virtual void Linear16(const std::uint16_t *rgba, int n, LinearBlock &out) = 0;
    // The one-pass conversion of 8-bit pixels, where this source and the processor have one.
    [[nodiscard]] virtual MatrixShaperKernel *Kernel() { return nullptr; }
};

// Per-channel curves to linear light, then one 3x3 matrix into linear sRGB; for HLG the reference
// OOTF in between.
class MatrixShaperStage final : public SourceStage
{
public:
    // A stored value 0..1 to linear light relative to the picture's white (PQ goes past 1).
    using Curve = std::function<double(double)>;

    // BT.2100's HLG OOTF: display light = scale * Y^exponent * scene light, Y from weights.
    struct Ootf
    {
        std::array<float, 3> weights {};
        float exponent = 0;
        float scale = 1;
    };

    MatrixShaperStage(std::array<Curve, 3> curves, const Matrix3 &toLinearSrgb,
        std::optional<Ootf> ootf = std::nullopt);

    void Linear8(const std::uint32_t *pixels, int n, LinearBlock &out) override;
    void Linear16(const std::uint16_t *rgba, int n, LinearBlock &out) override;
    [[nodiscard]] MatrixShaperKernel *Kernel() override { return kernel.get(); }

private:
    void ApplyOotf(int n, LinearBlock &block) const;
    void ApplyMatrix(int n, LinearBlock &block) const;

    std::array<Curve, 3> curves;
    std::array<std::vector<float>, 3> table8;
    // Built on the first 16-bit row; one table serves all channels when their curves agree.
    std::array<std::vector<float>, 3> table16;
    bool sameCurves = false;
    std::array<float, 9> matrix {};
    std::optional<Ootf> ootf;
    // Without the HLG OOTF, which is not per channel.
    std::unique_ptr<MatrixShaperKernel> kernel;
};

// Lookup-table profiles: lcms2's float transform into the profile's connection space (Lab or
// XYZ, D50) sampled once on a 33-point grid of the stored numbers, interpolated per pixel
// (tetrahedral, in the same space as lcms2 interpolates), then to linear sRGB with lcms2's matrix.
// lcms2's own 8-bit transform is as fast but clips at its grid's points before interpolating,
// which puts colours near the edge of sRGB 10 codes off; its float transform is exact but ten times
// slower. 33 points hold the 17- and 9-point grids profiles use.
class LutStage final : public SourceStage
{
public:
    static constexpr int kGridPoints = 33;

    // source: an RGB or grey (then fed the red channel) input profile; Valid() is false when
    // lcms2 cannot join it to the connection space.
    LutStage(cmsContext context, cmsHPROFILE source, bool grey);

    [[nodiscard]] bool Valid() const { return !grid.empty(); }

    void Linear8(const std::uint32_t *pixels, int n, LinearBlock &out) override;
    void Linear16(const std::uint16_t *rgba, int n, LinearBlock &out) override;

private:
    // One pixel from its grid cell and the fractions within it, to linear sRGB.
    void Interpolate(const int cell[3], const float fraction[3], float linear[3]) const;

    // Lab (L 0..100) or XYZ (white Y = 1) for each grid point, red slowest.
    std::vector<float> grid;
    bool lab = false;
    std::array<float, 9> fromXyz {};
    std::array<int, 256> cell8 {};
    std::array<float, 256> fraction8 {};
};

// CIE L*a*b* relative to D50 (in the encoding ColourDescription::Kind::Lab gives) to XYZ by the
// CIE formulas, then to linear sRGB by the matrix lcms2's relative colorimetric transform uses.
class LabStage final : public SourceStage
{
public:
    explicit LabStage(const Matrix3 &linearSrgbFromXyz);

    void Linear8(const std::uint32_t *pixels, int n, LinearBlock &out) override;
    void Linear16(const std::uint16_t *rgba, int n, LinearBlock &out) override;

private:
    void ToLinear(double l, double a, double b, LinearBlock &out, int i) const;

    std::array<double, 9> matrix {};
    std::array<double, 3> white {};
};

// A source stage and the shared encoder; a pixel counts as clipped when a channel is outside
// 0..255 by more than half a step once encoded.
class RowConverter
{
public:
    explicit RowConverter(std::unique_ptr<SourceStage> source);

    // Both return the pixels clipped.
    std::uint64_t ConvertRow(std::uint32_t *row, std::int32_t n);
    std::uint64_t ConvertRow16(const std::uint16_t *rgba, std::uint32_t *out, std::int32_t n);

    // Whether no 8-bit code on a test grid (each channel's ramp, the grey ramp, an 8x8x8 lattice)
    // moves by a whole step or more, so the identity stays within 1 of the conversion: sRGB
    // profiles whose colorants were rounded differently push pure green's red past half a step.
    [[nodiscard]] bool KeepsSrgbCodes();

private:
    // Photos repeat their colours: a 24-megapixel one holds a few hundred thousand, mostly near
    // their neighbours. The last conversion of each colour is kept in a slot picked by a hash of
    // the colour, key in the high half, the clipped flag in bit 24, so most pixels cost one lookup.
    // The table starts small, for icons, and grows with the pixels seen up to 256K colours (2 MB).
    static constexpr int kFirstRememberedBits = 12;
    static constexpr int kMostRememberedBits = 18;
    static constexpr std::uint64_t kNothingRemembered = ~std::uint64_t { 0 };
    // Once the table is full grown, it is kept only if it finds half the pixels of the next 1M.
    static constexpr std::uint64_t kJudgedAfterPixels = std::uint64_t { 1 } << 20;
    [[nodiscard]] std::size_t RememberedSlot(std::uint32_t colour) const
    {
        return (colour * 2654435761u) >> (32 - rememberedBits);
    }
    void GrowRemembered(std::int32_t pixels);
    std::uint64_t ConvertBlocks(std::uint32_t *row, std::int32_t n);

    std::unique_ptr<SourceStage> source;
    MatrixShaperKernel *kernel = nullptr;
    LinearBlock block {};
    std::array<std::uint32_t, kBlockPixels> alpha {};
    std::vector<std::uint64_t> remembered;
    int rememberedBits = 0;
    std::uint64_t pixelsSinceGrowth = 0;
    std::uint64_t hitsSinceGrowth = 0;
    bool remembering = true;
    // The pixels of a block that were not remembered, where they were, and their conversion.
    std::array<std::uint32_t, kBlockPixels> missed {};
    std::array<int, kBlockPixels> missedAt {};
    std::array<std::uint32_t, kBlockPixels> encoded {};
    std::array<std::uint32_t, kBlockPixels> clippedFlags {};
    const std::array<std::uint32_t, kBlockPixels> noAlpha {};
};

} // namespace imaging::colour
