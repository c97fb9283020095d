// The adjustment filters of a picture, in linear-light float RGB.
#include <cmath>

#include "platform/picture/PictureImpl.h"

namespace mv {

using vips::VImage;

namespace {

constexpr double kLuma709[3] = {0.2126, 0.7152, 0.0722};

// The picture's pixels in linear light; the first filter converts them.
// Blur and rotation read around each pixel, which a file read in one pass
// cannot serve, so the 8-bit pixels are brought into memory first.
VImage linearPixels(const Picture::Impl& impl)
{
    const VImage img = impl.materialized();
    return impl.linear ? img : img.copy_memory().colourspace(VIPS_INTERPRETATION_scRGB);
}

Picture linearPicture(VImage img)
{
    auto impl = std::make_shared<Picture::Impl>();
    impl->image = img.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_scRGB));
    impl->linear = true;
    return makePicture(std::move(impl));
}

VImage matrix(int w, int h, const std::vector<double>& values)
{
    return VImage::new_matrix(w, h, const_cast<double*>(values.data()), static_cast<int>(values.size()));
}

VImage luma(const VImage& rgb, const double (&w)[3]) { return rgb.recomb(matrix(3, 1, {w[0], w[1], w[2]})); }

// Another picture's linear pixels at w x h, lined up at the lower left
// (the origin of both): cut, or padded with black.
VImage linearAt(const Picture::Impl& impl, int w, int h)
{
    const VImage img = linearPixels(impl);
    if (img.width() == w && img.height() == h)
        return img;
    return img.embed(0, h - img.height(), w, h, VImage::option()->set("extend", VIPS_EXTEND_BLACK));
}

} // namespace

// Each colour filter alone is a pixel pass; the movie runs them together.
Picture Picture::colorControls(float saturation, float brightness, float contrast) const
{
    PixelPass p;
    p.first = colorControlsTransform(saturation, brightness, contrast);
    return pixelPass(p, true);
}

Picture Picture::exposureAdjust(float ev) const
{
    PixelPass p;
    p.first = exposureTransform(ev);
    return pixelPass(p, true);
}

Picture Picture::colorMonochrome(float red, float green, float blue, float intensity) const
{
    return pixelPass(monochromePass(red, green, blue, intensity), true);
}

Picture Picture::sepiaTone(float intensity) const
{
    PixelPass p;
    p.first = sepiaTransform(intensity);
    return pixelPass(p, true);
}

Picture Picture::sharpenLuminance(float sharpness) const
{
    const VImage c = linearPixels(*impl_);
    const VImage Y = luma(c, kLuma709);
    const VImage detail = Y - Y.gaussblur(1.69, VImage::option()
                                                     ->set("precision", VIPS_PRECISION_FLOAT)
                                                     ->set("min_ampl", 0.01));
    return linearPicture(c + detail.linear(double(sharpness), 0.0));
}

Picture Picture::gaussianBlur(float radius) const
{
    // The convolution extends the borders by copying and keeps the size, so
    // the blur never grows the picture.
    return linearPicture(linearPixels(*impl_).gaussblur(
        radius, VImage::option()->set("precision", VIPS_PRECISION_FLOAT)->set("min_ampl", 0.01)));
}

Picture Picture::straighten(float angle) const
{
    const VImage c = linearPixels(*impl_);
    const int W = c.width(), H = c.height();
    const double s = std::fabs(std::cos(angle)) + std::fabs(std::sin(angle)) * std::max(double(W) / H, double(H) / W);
    // A margin of copied border keeps the interpolation at the frame's edge
    // from mixing in black.
    const int margin = 2;
    const VImage rotated = c.embed(margin, margin, W + 2 * margin, H + 2 * margin,
                                   VImage::option()->set("extend", VIPS_EXTEND_COPY))
                               .similarity(VImage::option()
                                               ->set("scale", s)
                                               ->set("angle", -angle * 180.0 / M_PI)
                                               ->set("interpolate", vips::VInterpolate::new_from_name("bicubic")));
    const int left = (rotated.width() - W) / 2, top = (rotated.height() - H) / 2;
    return linearPicture(rotated.extract_area(left, top, W, H));
}

// The blends choose or mix float values: nothing is rounded to 8 bits
// before the result is rendered.
Picture Picture::blended(const Picture& backdrop, Blend mode) const
{
    if (mode != Blend::Overlay && !impl_->linear && !backdrop.impl_->linear && !impl_->deep && !backdrop.impl_->deep) {
        // Choosing the larger or smaller component gives the same result on
        // sRGB values as on linear ones (the transfer curve is monotonic), so
        // two 8-bit pictures are compared as they are and stay 8-bit.
        const VImage S = impl_->materialized();
        VImage B = backdrop.impl_->materialized();
        if (B.width() != S.width() || B.height() != S.height())
            B = B.embed(0, S.height() - B.height(), S.width(), S.height(),
                        VImage::option()->set("extend", VIPS_EXTEND_BLACK));
        const bool larger = mode == Blend::Lighten || mode == Blend::Maximum;
        auto impl = std::make_shared<Picture::Impl>();
        impl->image = (larger ? S > B : S < B).ifthenelse(S, B);
        return makePicture(std::move(impl));
    }
    const VImage S = linearPixels(*impl_);
    const VImage B = linearAt(*backdrop.impl_, S.width(), S.height());
    switch (mode) {
    case Blend::Lighten:
    case Blend::Maximum: // the same on opaque pictures
        return linearPicture((S > B).ifthenelse(S, B));
    case Blend::Darken:
    case Blend::Minimum:
        return linearPicture((S < B).ifthenelse(S, B));
    case Blend::Overlay: {
        const VImage multiply = (S * B).linear(2.0, 0.0);
        const VImage screen = (S.linear(-1.0, 1.0) * B.linear(-1.0, 1.0)).linear(-2.0, 1.0);
        return linearPicture(B.relational_const(VIPS_OPERATION_RELATIONAL_LESSEQ, {0.5}).ifthenelse(multiply, screen));
    }
    }
    return *this;
}

Picture Picture::blendedWithMask(const Picture& backdrop, const Picture& mask) const
{
    const VImage S = linearPixels(*impl_);
    const VImage B = linearAt(*backdrop.impl_, S.width(), S.height());
    const VImage m = linearAt(*mask.impl_, S.width(), S.height()).extract_band(1);
    return linearPicture(B + (S - B) * m);
}

} // namespace mv
