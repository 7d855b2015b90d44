#pragma once

// Filter taps and constants shared by the portable and the vector metric kernels.

namespace ze::nox::core::vmaf::tables {

// VIF: the Gaussian of each scale.
inline constexpr float kVifFilter0[17] = {
    0x1.e8a77p-8f,  0x1.d373b2p-7f, 0x1.9a1cf6p-6f, 0x1.49fd9ep-5f, 0x1.e7092ep-5f, 0x1.49a044p-4f,
    0x1.99350ep-4f, 0x1.d1e76ap-4f, 0x1.e67f8p-4f,  0x1.d1e76ap-4f, 0x1.99350ep-4f, 0x1.49a044p-4f,
    0x1.e7092ep-5f, 0x1.49fd9ep-5f, 0x1.9a1cf6p-6f, 0x1.d373b2p-7f, 0x1.e8a77p-8f};
inline constexpr float kVifFilter1[9] = {0x1.36efdap-6f, 0x1.c9eaf8p-5f, 0x1.ef4ac2p-4f, 0x1.897424p-3f, 0x1.cb1b88p-3f,
                                         0x1.897424p-3f, 0x1.ef4ac2p-4f, 0x1.c9eaf8p-5f, 0x1.36efdap-6f};
inline constexpr float kVifFilter2[5] = {0x1.be5f0ep-5f, 0x1.f41fd6p-3f, 0x1.9c4868p-2f, 0x1.f41fd6p-3f,
                                         0x1.be5f0ep-5f};
inline constexpr float kVifFilter3[3] = {0x1.54be4p-3f, 0x1.55a0ep-1f, 0x1.54be4p-3f};
inline constexpr float const* kVifFilters[4] = {kVifFilter0, kVifFilter1, kVifFilter2, kVifFilter3};
inline constexpr int kVifTaps[4] = {17, 9, 5, 3};

// Coefficients of the log2 polynomial, highest power first.
inline constexpr float kLog2Poly[9] = {-0.012671635276421f, 0.064841182402670f,  -0.157048836463065f,
                                       0.257167726303123f,  -0.353800560300520f, 0.480131410397451f,
                                       -0.721314327952201f, 1.442694803896991f,  0.0f};

// SSIM: 11-tap Gaussian window.
inline constexpr float kSsimGauss[11] = {0.001028f, 0.007599f, 0.036001f, 0.109361f, 0.213006f, 0.266012f,
                                         0.213006f, 0.109361f, 0.036001f, 0.007599f, 0.001028f};

// ADM: db2 wavelet.
inline constexpr float kAdmLo[4] = {0.482962913144690f, 0.836516303737469f, 0.224143868041857f, -0.129409522550921f};
inline constexpr float kAdmHi[4] = {-0.129409522550921f, -0.224143868041857f, 0.836516303737469f, -0.482962913144690f};
// 1 / Watson quantisation step per scale: horizontal and vertical bands, diagonal band.
inline constexpr float kAdmRfactorHV[4] = {0x1.1cc774p-6f, 0x1.06050cp-5f, 0x1.634f1p-5f, 0x1.762816p-5f};
inline constexpr float kAdmRfactorD[4] = {0x1.820d54p-8f, 0x1.d48d46p-7f, 0x1.8fb80cp-6f, 0x1.008392p-5f};
// Masking weights (double, as the reference's constants are).
inline constexpr double kAdmOneBy30 = 0.0333333351;
inline constexpr double kAdmOneBy15 = 0.0666666701;
inline constexpr double kAdmBorderFactor = 0.1;

// Motion: 5-tap blur.
inline constexpr float kMotionFilter[5] = {0.054488685f, 0.244201342f, 0.402619947f, 0.244201342f, 0.054488685f};

} // namespace ze::nox::core::vmaf::tables
