#pragma once

// The VMAF model: the pickled parameter file (protocol-0 text) and its SVM companion
// (the same path with ".model" appended), loaded with libsvm. No Qt here.

#include <string>
#include <vector>

struct svm_model;

namespace ze::nox::core::vmaf {

class VmafModel
{
public:
    VmafModel() = default;
    ~VmafModel();
    VmafModel(VmafModel const&) = delete;
    VmafModel& operator=(VmafModel const&) = delete;

    // Reads both files. On failure returns false and sets error to the failure text;
    // the reason the parameter file could not be read is printed as the reference does.
    bool load(std::string const& pklPath, std::string& error);

    // Feature names as stored, quotes included (e.g. "'VMAF_feature_adm2_score'").
    std::vector<std::string> const& featureNames() const { return m_featureNames; }

    // Normalise, SVM, denormalise, clip to the model's score range (no transform).
    // features are in featureNames() order. Returns false for a non-finite result.
    bool predict(std::vector<double> const& features, double& score, double* unclipped = nullptr) const;

private:
    std::vector<std::string> m_featureNames;
    std::vector<double> m_slopes;
    std::vector<double> m_intercepts;
    double m_clipLow = 0.0;
    double m_clipHigh = 100.0;
    bool m_hasClip = false;
    svm_model* m_svm = nullptr;
};

// Parses a locale-independent decimal number; false when text is not wholly a number.
bool ParseNumber(std::string const& text, double& value);

} // namespace ze::nox::core::vmaf
