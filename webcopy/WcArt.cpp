#include "webcopy/WcArt.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "webcopy/Webcopy.h"

namespace kivo::webcopy {

namespace {

using ui::TPixelImage;

constexpr uint32_t Rgb(int R, int G, int B) {
    return (uint32_t(R) << 16) | (uint32_t(G) << 8) | uint32_t(B);
}

// A small anti-aliased painter over an ARGB picture: every shape is a
// predicate over points, sampled 4 x 4 times per pixel inside its bounding
// box, and its coverage blended over what is there.
class TCanvas {
public:
    explicit TCanvas(TPixelImage& Image) : FImage(Image) {}

    // Fills what Inside accepts within the box X0..X1, Y0..Y1.
    template <class F>
    void Fill(double X0, double Y0, double X1, double Y1, uint32_t Color, F Inside) {
        const int Left = std::max(0, int(std::floor(X0))), Top = std::max(0, int(std::floor(Y0)));
        const int Right = std::min(FImage.Width - 1, int(std::ceil(X1)));
        const int Bottom = std::min(FImage.Height - 1, int(std::ceil(Y1)));
        for (int Y = Top; Y <= Bottom; ++Y)
            for (int X = Left; X <= Right; ++X) {
                int Hits = 0;
                for (int SY = 0; SY < 4; ++SY)
                    for (int SX = 0; SX < 4; ++SX)
                        if (Inside(X + (SX + 0.5) / 4, Y + (SY + 0.5) / 4)) ++Hits;
                if (Hits > 0) Blend(X, Y, Color, Hits / 16.0);
            }
    }

    void Ellipse(double CX, double CY, double RX, double RY, uint32_t Color) {
        Fill(CX - RX, CY - RY, CX + RX, CY + RY, Color,
             [=](double X, double Y) { return Sq((X - CX) / RX) + Sq((Y - CY) / RY) <= 1; });
    }
    // The outline of an ellipse, Width wide across its line.
    void EllipseLine(double CX, double CY, double RX, double RY, double Width, uint32_t Color) {
        const double H = Width / 2;
        Fill(CX - RX - H, CY - RY - H, CX + RX + H, CY + RY + H, Color, [=](double X, double Y) {
            const bool Out = Sq((X - CX) / (RX + H)) + Sq((Y - CY) / (RY + H)) <= 1;
            const bool In =
                RX > H && RY > H && Sq((X - CX) / (RX - H)) + Sq((Y - CY) / (RY - H)) < 1;
            return Out && !In;
        });
    }
    // A rectangle with rounded corners, filled and outlined 1 pixel wide.
    void RoundRect(double L, double T, double W, double H, double R, uint32_t FillColor,
                   uint32_t LineColor) {
        auto Inside = [=](double X, double Y, double Grow) {
            const double L2 = L - Grow, T2 = T - Grow, R2 = std::max(0.0, R + Grow);
            const double W2 = W + 2 * Grow, H2 = H + 2 * Grow;
            if (X < L2 || Y < T2 || X > L2 + W2 || Y > T2 + H2) return false;
            const double DX = std::max({L2 + R2 - X, X - (L2 + W2 - R2), 0.0});
            const double DY = std::max({T2 + R2 - Y, Y - (T2 + H2 - R2), 0.0});
            return Sq(DX) + Sq(DY) <= Sq(R2);
        };
        Fill(L, T, L + W, T + H, FillColor, [=](double X, double Y) { return Inside(X, Y, 0); });
        Fill(L - 1, T - 1, L + W + 1, T + H + 1, LineColor,
             [=](double X, double Y) { return Inside(X, Y, 0.5) && !Inside(X, Y, -0.5); });
    }
    // A straight line Width wide with round ends.
    void Line(double X0, double Y0, double X1, double Y1, double Width, uint32_t Color) {
        const double H = Width / 2, DX = X1 - X0, DY = Y1 - Y0, Len2 = DX * DX + DY * DY;
        Fill(std::min(X0, X1) - H, std::min(Y0, Y1) - H, std::max(X0, X1) + H, std::max(Y0, Y1) + H,
             Color, [=](double X, double Y) {
                 double T = Len2 > 0 ? ((X - X0) * DX + (Y - Y0) * DY) / Len2 : 0;
                 T = std::clamp(T, 0.0, 1.0);
                 return Sq(X - (X0 + T * DX)) + Sq(Y - (Y0 + T * DY)) <= H * H;
             });
    }

private:
    static double Sq(double V) { return V * V; }
    void Blend(int X, int Y, uint32_t Color, double Cover) {
        uint32_t& P = FImage.Pixels[size_t(Y) * size_t(FImage.Width) + size_t(X)];
        const double A = (P >> 24) / 255.0;
        const double OutA = Cover + A * (1 - Cover);
        uint32_t Out = uint32_t(std::lround(OutA * 255)) << 24;
        for (int Shift = 0; Shift <= 16; Shift += 8) {
            const double S = (Color >> Shift) & 0xFF, D = (P >> Shift) & 0xFF;
            const double V = OutA > 0 ? (S * Cover + D * A * (1 - Cover)) / OutA : 0;
            Out |= uint32_t(std::lround(V)) << Shift;
        }
        P = Out;
    }
    TPixelImage& FImage;
};

struct TBox {
    double L, T, W, H;
    double CX() const { return L + W / 2; }
};

void Folder(TCanvas& C, TBox R) {
    C.RoundRect(R.L, R.T, R.W * 0.4, R.H * 0.3, 2, Rgb(240, 200, 80), Rgb(150, 110, 20));
    C.RoundRect(R.L, R.T + R.H * 0.15, R.W, R.H * 0.85, 2, Rgb(250, 214, 100), Rgb(150, 110, 20));
}

void Globe(TCanvas& C, double CX, double CY, double Rad, int Frame) {
    C.Ellipse(CX, CY, Rad, Rad, Rgb(90, 150, 230));
    C.EllipseLine(CX, CY, Rad, Rad, 1.2, Rgb(20, 60, 140));
    const uint32_t Grid = Rgb(230, 240, 255);
    C.Line(CX - Rad, CY, CX + Rad, CY, 1, Grid);
    C.EllipseLine(CX, CY, Rad, Rad * 0.45, 1, Grid);
    // Meridians turn with the frames.
    for (int M = 0; M < 2; ++M) {
        const double Phase = (Frame + M * ClipFrameCount / 2.0) / ClipFrameCount * std::numbers::pi;
        const double W = std::fabs(std::cos(Phase)) * Rad;
        if (W >= 1)
            C.EllipseLine(CX, CY, W, Rad, 1, Grid);
        else
            C.Line(CX, CY - Rad, CX, CY + Rad, 1, Grid);
    }
}

void Computer(TCanvas& C, TBox R) {
    const uint32_t Edge = Rgb(60, 60, 60);
    const double ScreenH = R.H * 0.72;
    C.RoundRect(R.L, R.T, R.W, ScreenH, 2, Rgb(200, 200, 200), Edge);
    C.RoundRect(R.L + 3, R.T + 3, R.W - 6, ScreenH - 6, 0, Rgb(40, 90, 160), Edge);
    C.RoundRect(R.CX() - 4, R.T + ScreenH, 8, R.H * 0.14, 0, Rgb(170, 170, 170), Edge);
    C.RoundRect(R.L + R.W * 0.2, R.T + R.H * 0.86, R.W * 0.6, R.H * 0.14, 0, Rgb(170, 170, 170),
                Edge);
}

// A sheet of paper turned by Angle degrees around its centre CX, CY.
void Paper(TCanvas& C, double CX, double CY, double Angle) {
    const double Rad = Angle * std::numbers::pi / 180, Cos = std::cos(Rad), Sin = std::sin(Rad);
    // Into the sheet's own upright coordinates.
    auto Local = [=](double X, double Y, double& LX, double& LY) {
        LX = (X - CX) * Cos + (Y - CY) * Sin;
        LY = -(X - CX) * Sin + (Y - CY) * Cos;
    };
    auto Within = [=](double X, double Y, double HW, double HH) {
        double LX, LY;
        Local(X, Y, LX, LY);
        return std::fabs(LX) <= HW && std::fabs(LY) <= HH;
    };
    C.Fill(CX - 13, CY - 13, CX + 13, CY + 13, Rgb(90, 90, 90),
           [=](double X, double Y) { return Within(X, Y, 7.5, 9.5); });
    C.Fill(CX - 13, CY - 13, CX + 13, CY + 13, Rgb(255, 255, 255),
           [=](double X, double Y) { return Within(X, Y, 6.5, 8.5); });
    for (int L = 0; L < 4; ++L) {
        const double Y = -5 + L * 4;
        C.Line(CX + -4 * Cos - Y * Sin, CY + -4 * Sin + Y * Cos, CX + 4 * Cos - Y * Sin,
               CY + 4 * Sin + Y * Cos, 1, Rgb(120, 140, 200));
    }
}

// A sheet flying on an arc from one point to another.
void Flight(TCanvas& C, double FX, double FY, double TX, double TY, int Frame) {
    const double T = double(Frame) / (ClipFrameCount - 1);
    const double X = FX + (TX - FX) * T;
    const double Y = FY + (TY - FY) * T - std::sin(T * std::numbers::pi) * 14;
    Paper(C, X, Y, -20 + 40 * T);
}

// The byte offsets where UTF-8 characters start, and the text's end.
std::vector<size_t> CharStarts(const std::string& S) {
    std::vector<size_t> Starts;
    for (size_t I = 0; I < S.size(); ++I)
        if ((static_cast<unsigned char>(S[I]) & 0xC0) != 0x80) Starts.push_back(I);
    Starts.push_back(S.size());
    return Starts;
}

} // namespace

TPixelImage DrawClipFrame(int ResId, int Frame) {
    Frame = ((Frame % ClipFrameCount) + ClipFrameCount) % ClipFrameCount;
    TPixelImage Image;
    Image.Width = ClipWidth;
    Image.Height = ClipHeight;
    Image.Format = ui::TPixelFormat::Argb;
    Image.Pixels.assign(size_t(ClipWidth) * ClipHeight, 0);
    TCanvas C(Image);
    const TBox Left{30, 14, 40, 32}, Right{ClipWidth - 70.0, 14, 40, 32};
    if (ResId == ClipDownload) {
        Globe(C, 50, 28, 17, Frame);
        Computer(C, Right);
        Flight(C, 62, 24, Right.CX(), 22, Frame);
    } else if (ResId == ClipUpload) {
        Computer(C, Left);
        Globe(C, ClipWidth - 50, 28, 17, Frame);
        Flight(C, Left.CX(), 22, ClipWidth - 62, 24, Frame);
    } else {
        Folder(C, Left);
        Folder(C, Right);
        Flight(C, Left.CX(), 30, Right.CX(), 30, Frame);
    }
    return Image;
}

TPixelImage DrawLoginBannerArt() {
    TPixelImage Image;
    Image.Width = LoginBannerWidth;
    Image.Height = LoginBannerHeight;
    Image.Format = ui::TPixelFormat::Argb;
    Image.Pixels.resize(size_t(LoginBannerWidth) * LoginBannerHeight);
    // A diagonal gradient from dark to light blue.
    const double DX = LoginBannerWidth, DY = LoginBannerHeight, Len2 = DX * DX + DY * DY;
    for (int Y = 0; Y < LoginBannerHeight; ++Y)
        for (int X = 0; X < LoginBannerWidth; ++X) {
            const double T = std::clamp(((X + 0.5) * DX + (Y + 0.5) * DY) / Len2, 0.0, 1.0);
            auto Mix = [T](int A, int B) { return int(std::lround(A + (B - A) * T)); };
            Image.Pixels[size_t(Y) * LoginBannerWidth + X] =
                0xFF000000u | Rgb(Mix(24, 90), Mix(62, 150), Mix(128, 220));
        }
    // A key: ring and bit.
    TCanvas C(Image);
    const uint32_t Gold = Rgb(250, 210, 90);
    C.EllipseLine(36, 30, 11, 11, 5, Gold);
    C.Line(47, 30, 80, 30, 5, Gold);
    C.Line(72, 30, 72, 39, 5, Gold);
    C.Line(64, 30, 64, 37, 5, Gold);
    Image.Format = ui::TPixelFormat::Rgb;
    return Image;
}

TPixelImage ToIndexed8(const TPixelImage& Image) {
    TPixelImage Out;
    Out.Width = Image.Width;
    Out.Height = Image.Height;
    Out.Format = ui::TPixelFormat::Indexed8;
    for (int R = 0; R < 6; ++R)
        for (int G = 0; G < 6; ++G)
            for (int B = 0; B < 6; ++B)
                Out.Palette.push_back(Rgb(R * 51, G * 51, B * 51));
    Out.Indexes.reserve(size_t(Image.Width) * size_t(Image.Height));
    for (int Y = 0; Y < Image.Height; ++Y)
        for (int X = 0; X < Image.Width; ++X) {
            const uint32_t P = Image.At(X, Y);
            auto Level = [P](int Shift) { return int((((P >> Shift) & 0xFF) + 25) / 51); };
            Out.Indexes.push_back(uint8_t(Level(16) * 36 + Level(8) * 6 + Level(0)));
        }
    return Out;
}

std::string ElidePathText(const std::string& Text, int Width,
                          const std::function<int(const std::string&)>& Measure) {
    if (Measure(Text) <= Width) return Text;
    const std::string Dots = "...";
    const size_t Cut = Text.find_last_of("/\\");
    std::string Tail = Cut != std::string::npos ? Text.substr(Cut) : std::string();
    std::string Head = Cut != std::string::npos ? Text.substr(0, Cut) : Text;
    // Drop characters from the end of the head until head + "..." + tail
    // fits; when even the tail alone is too long, shorten the tail's start.
    std::vector<size_t> Starts = CharStarts(Head);
    while (Starts.size() > 1 && Measure(Head + Dots + Tail) > Width) {
        Starts.pop_back();
        Head.resize(Starts.back());
    }
    if (!Head.empty() || Measure(Dots + Tail) <= Width) return Head + Dots + Tail;
    Starts = CharStarts(Tail);
    size_t From = 0;
    while (From + 2 < Starts.size() && Measure(Dots + Tail.substr(Starts[From])) > Width)
        ++From;
    return Dots + Tail.substr(Starts[From]);
}

} // namespace kivo::webcopy
