#include "metrics/vmaf_model.h"

#include <svm.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

namespace ze::nox::core::vmaf {

namespace {

// libsvm's loader switches the process locale while it reads: one load at a time.
std::mutex sSvmLoadMutex;

// Values of the pickle subset the parameter file uses.
struct PValue;
using PRef = std::shared_ptr<PValue>;
struct PValue
{
    enum Kind { None, Bool, Int, Float, String, List, Dict, Mark } kind = None;
    double number = 0.0;
    std::string text;                 // strings keep their quotes as stored
    std::vector<PRef> items;          // list items
    std::map<std::string, PRef> dict; // keys are string texts (with quotes)
};

PRef Make(PValue::Kind k)
{
    auto v = std::make_shared<PValue>();
    v->kind = k;
    return v;
}

// A protocol-0 pickle reader: MARK, DICT, LIST, TUPLE, STRING, UNICODE, FLOAT, INT, LONG,
// NONE, PUT, GET, SETITEM, SETITEMS, APPEND, APPENDS, STOP. Anything else is an error.
bool ParsePickle(std::string const& data, PRef& result, std::string& error)
{
    std::vector<PRef> stack;
    std::map<std::string, PRef> memo;
    std::size_t pos = 0;
    std::size_t const maxDepth = 100000;
    auto readLine = [&](std::string& line) -> bool {
        std::size_t const e = data.find('\n', pos);
        if (e == std::string::npos)
            return false;
        line = data.substr(pos, e - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        pos = e + 1;
        return true;
    };
    auto popToMark = [&](std::vector<PRef>& items) -> bool {
        for (std::size_t i = stack.size(); i-- > 0;) {
            if (stack[i]->kind == PValue::Mark) {
                items.assign(stack.begin() + static_cast<std::ptrdiff_t>(i) + 1, stack.end());
                stack.resize(i);
                return true;
            }
        }
        return false;
    };
    while (pos < data.size()) {
        char const op = data[pos++];
        std::string line;
        switch (op) {
        case '(': stack.push_back(Make(PValue::Mark)); break;
        case 'd':
        case 'l':
        case 't': {
            std::vector<PRef> items;
            if (!popToMark(items)) {
                error = "no mark";
                return false;
            }
            if (op == 'd') {
                if (items.size() % 2) {
                    error = "odd dict";
                    return false;
                }
                auto v = Make(PValue::Dict);
                for (std::size_t i = 0; i < items.size(); i += 2)
                    v->dict[items[i]->text] = items[i + 1];
                stack.push_back(v);
            } else {
                auto v = Make(PValue::List);
                v->items = std::move(items);
                stack.push_back(v);
            }
            break;
        }
        case 'S':
        case 'V': {
            if (!readLine(line)) {
                error = "truncated string";
                return false;
            }
            auto v = Make(PValue::String);
            v->text = op == 'V' ? "'" + line + "'" : line;
            stack.push_back(v);
            break;
        }
        case 'F':
        case 'I':
        case 'L': {
            if (!readLine(line)) {
                error = "truncated number";
                return false;
            }
            if (op == 'L' && !line.empty() && line.back() == 'L')
                line.pop_back();
            auto v = Make(PValue::Float);
            if (op == 'I' && (line == "00" || line == "01")) {
                v->kind = PValue::Bool;
                v->number = line == "01" ? 1.0 : 0.0;
            } else if (!ParseNumber(line, v->number)) {
                error = "bad number " + line;
                return false;
            }
            if (op != 'F' && v->kind != PValue::Bool)
                v->kind = PValue::Int;
            stack.push_back(v);
            break;
        }
        case 'N': stack.push_back(Make(PValue::None)); break;
        case 'p':
            if (!readLine(line) || stack.empty()) {
                error = "bad put";
                return false;
            }
            memo[line] = stack.back();
            break;
        case 'g': {
            if (!readLine(line)) {
                error = "bad get";
                return false;
            }
            auto it = memo.find(line);
            if (it == memo.end()) {
                error = "unknown memo " + line;
                return false;
            }
            stack.push_back(it->second);
            break;
        }
        case 's': {
            if (stack.size() < 3 || stack[stack.size() - 3]->kind != PValue::Dict) {
                error = "bad setitem";
                return false;
            }
            PRef val = stack.back();
            stack.pop_back();
            PRef key = stack.back();
            stack.pop_back();
            stack.back()->dict[key->text] = val;
            break;
        }
        case 'u': {
            std::vector<PRef> items;
            if (!popToMark(items) || items.size() % 2 || stack.empty() || stack.back()->kind != PValue::Dict) {
                error = "bad setitems";
                return false;
            }
            for (std::size_t i = 0; i < items.size(); i += 2)
                stack.back()->dict[items[i]->text] = items[i + 1];
            break;
        }
        case 'a': {
            if (stack.size() < 2 || stack[stack.size() - 2]->kind != PValue::List) {
                error = "bad append";
                return false;
            }
            PRef val = stack.back();
            stack.pop_back();
            stack.back()->items.push_back(val);
            break;
        }
        case 'e': {
            std::vector<PRef> items;
            if (!popToMark(items) || stack.empty() || stack.back()->kind != PValue::List) {
                error = "bad appends";
                return false;
            }
            for (auto& i : items)
                stack.back()->items.push_back(i);
            break;
        }
        case '.':
            if (stack.size() != 1) {
                error = "bad stop";
                return false;
            }
            result = stack.back();
            return true;
        case '\n':
        case '\r': break;
        default: error = std::string("unsupported opcode ") + op; return false;
        }
        if (stack.size() > maxDepth) {
            error = "too deep";
            return false;
        }
    }
    error = "no stop";
    return false;
}

PRef Lookup(PRef const& dict, char const* key)
{
    if (!dict || dict->kind != PValue::Dict)
        return nullptr;
    auto it = dict->dict.find(std::string("'") + key + "'");
    return it == dict->dict.end() ? nullptr : it->second;
}

bool NumberList(PRef const& v, std::vector<double>& out)
{
    if (!v || v->kind != PValue::List)
        return false;
    out.clear();
    for (auto const& i : v->items) {
        if (i->kind != PValue::Float && i->kind != PValue::Int)
            return false;
        out.push_back(i->number);
    }
    return true;
}

} // namespace

bool ParseNumber(std::string const& text, double& value)
{
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double v = 0.0;
    in >> v;
    if (in.fail())
        return false;
    in >> std::ws;
    if (!in.eof())
        return false;
    value = v;
    return std::isfinite(v);
}

VmafModel::~VmafModel()
{
    if (m_svm)
        svm_free_and_destroy_model(&m_svm);
}

bool VmafModel::load(std::string const& pklPath, std::string& error)
{
    std::ifstream in(pklPath, std::ios::binary);
    std::string data;
    if (in) {
        // The parameter file is small; refuse anything implausibly large.
        in.seekg(0, std::ios::end);
        std::streamoff const size = in.tellg();
        in.seekg(0, std::ios::beg);
        if (size > 0 && size <= (1 << 20)) {
            data.resize(static_cast<std::size_t>(size));
            in.read(&data[0], size);
            if (!in)
                data.clear();
        }
    }
    if (data.empty()) {
        std::printf("Input model at %s cannot be read successfully.\n", pklPath.c_str());
        std::fflush(stdout);
        error = "Error loading model (.pkl): " + pklPath + " cannot be read";
        return false;
    }
    PRef root;
    std::string why;
    if (!ParsePickle(data, root, why)) {
        std::printf("Input model at %s cannot be read successfully.\n", pklPath.c_str());
        std::fflush(stdout);
        error = "Error loading model (.pkl): " + why;
        return false;
    }
    PRef const model = Lookup(root, "model_dict");
    PRef const names = Lookup(model, "feature_names");
    std::vector<std::string> featureNames;
    if (names && names->kind == PValue::List) {
        for (auto const& n : names->items)
            if (n->kind == PValue::String)
                featureNames.push_back(n->text);
    }
    std::vector<double> slopes, intercepts;
    bool ok = names && featureNames.size() == names->items.size() && !featureNames.empty() &&
              NumberList(Lookup(model, "slopes"), slopes) && NumberList(Lookup(model, "intercepts"), intercepts) &&
              slopes.size() == featureNames.size() + 1 && intercepts.size() == featureNames.size() + 1 &&
              slopes[0] != 0.0;
    PRef const norm = Lookup(model, "norm_type");
    if (ok && (!norm || norm->text != "'linear_rescale'"))
        ok = false;
    if (!ok) {
        std::printf("Input model at %s cannot be read successfully.\n", pklPath.c_str());
        std::fflush(stdout);
        error = "Error loading model (.pkl): missing or invalid model_dict entries";
        return false;
    }
    std::vector<double> clip;
    m_hasClip = false;
    if (NumberList(Lookup(model, "score_clip"), clip) && clip.size() == 2) {
        m_hasClip = true;
        m_clipLow = clip[0];
        m_clipHigh = clip[1];
    }
    m_featureNames = std::move(featureNames);
    m_slopes = std::move(slopes);
    m_intercepts = std::move(intercepts);

    std::string const svmPath = pklPath + ".model";
    svm_model* svm = nullptr;
    {
        std::lock_guard<std::mutex> lock(sSvmLoadMutex);
        svm = svm_load_model(svmPath.c_str());
    }
    if (!svm) {
        error = "Error loading SVM model";
        return false;
    }
    if (m_svm)
        svm_free_and_destroy_model(&m_svm);
    m_svm = svm;
    return true;
}

bool VmafModel::predict(std::vector<double> const& features, double& score, double* unclipped) const
{
    if (!m_svm || features.size() != m_featureNames.size())
        return false;
    std::vector<svm_node> nodes(features.size() + 1);
    for (std::size_t j = 0; j < features.size(); ++j) {
        nodes[j].index = static_cast<int>(j) + 1;
        nodes[j].value = m_slopes[j + 1] * features[j] + m_intercepts[j + 1];
    }
    nodes[features.size()].index = -1;
    nodes[features.size()].value = 0.0;
    double const y = svm_predict(m_svm, nodes.data());
    double v = (y - m_intercepts[0]) / m_slopes[0];
    if (!std::isfinite(v))
        return false;
    if (unclipped)
        *unclipped = v;
    if (m_hasClip) {
        if (v < m_clipLow)
            v = m_clipLow;
        if (v > m_clipHigh)
            v = m_clipHigh;
    }
    score = v;
    return true;
}

} // namespace ze::nox::core::vmaf
