// The parameter-value model: which values each parameter type holds, the
// defaults, keys over time (double-valued types interpolate linearly, the
// others hold), and how values are stored.
#include <cmath>
#include <iterator>

#include "host/HostInternal.h"

namespace tbhost {

ParamKind paramKind(const std::string &type, int &dimension) {
  struct Entry {
    const char *type;
    ParamKind kind;
    int dimension;
  };
  static const Entry kTypes[] = {
      {kOfxParamTypeInteger, ParamKind::Int, 1},     {kOfxParamTypeInteger2D, ParamKind::Int, 2},
      {kOfxParamTypeInteger3D, ParamKind::Int, 3},   {kOfxParamTypeBoolean, ParamKind::Int, 1},
      {kOfxParamTypeChoice, ParamKind::Int, 1},      {kOfxParamTypeDouble, ParamKind::Double, 1},
      {kOfxParamTypeDouble2D, ParamKind::Double, 2}, {kOfxParamTypeDouble3D, ParamKind::Double, 3},
      {kOfxParamTypeRGB, ParamKind::Double, 3},      {kOfxParamTypeRGBA, ParamKind::Double, 4},
      {kOfxParamTypeString, ParamKind::Text, 1},     {kOfxParamTypeCustom, ParamKind::Text, 1},
      {"OfxParamTypeStrChoice", ParamKind::Text, 1}, {kOfxParamTypeGroup, ParamKind::None, 0},
      {kOfxParamTypePage, ParamKind::None, 0},       {kOfxParamTypePushButton, ParamKind::None, 0},
  };
  for (const Entry &e : kTypes) {
    if (type == e.type) {
      dimension = e.dimension;
      return e.kind;
    }
  }
  dimension = -1;
  return ParamKind::None;
}

ParamValue defaultValue(const Param &param) {
  ParamValue v;
  if (param.kind == ParamKind::Text) {
    v.text = std::make_shared<const std::string>(param.props.getString(kOfxParamPropDefault));
    return v;
  }
  v.numbers.assign(static_cast<size_t>(param.dimension), 0.0);
  const std::vector<double> d = param.props.getDoubles(kOfxParamPropDefault);
  const std::vector<int> i = param.props.getInts(kOfxParamPropDefault);
  for (size_t k = 0; k < v.numbers.size(); ++k) {
    if (k < d.size()) v.numbers[k] = d[k];
    else if (k < i.size()) v.numbers[k] = i[k];
  }
  return v;
}

ParamValue paramValueAt(const Param &param, double time) {
  if (param.keys.empty()) return param.value;
  auto after = param.keys.lower_bound(time);
  if (after != param.keys.end() && after->first == time) return after->second;
  if (after == param.keys.begin()) return after->second;
  auto before = std::prev(after);
  if (after == param.keys.end() || param.kind != ParamKind::Double || std::isnan(time)) return before->second;
  const double t = (time - before->first) / (after->first - before->first);
  ParamValue v = before->second;
  for (size_t i = 0; i < v.numbers.size() && i < after->second.numbers.size(); ++i) {
    v.numbers[i] = before->second.numbers[i] + t * (after->second.numbers[i] - before->second.numbers[i]);
  }
  return v;
}

std::vector<double> paramSlopeAt(const Param &param, double time) {
  std::vector<double> slope(static_cast<size_t>(param.dimension), 0.0);
  if (param.keys.size() < 2) return slope;
  auto after = param.keys.upper_bound(time);
  if (after == param.keys.begin() || after == param.keys.end()) return slope;
  auto before = std::prev(after);
  const double span = after->first - before->first;
  for (size_t i = 0; i < slope.size(); ++i) {
    slope[i] = (after->second.numbers[i] - before->second.numbers[i]) / span;
  }
  return slope;
}

std::vector<double> paramIntegral(const Param &param, double time1, double time2) {
  std::vector<double> sum(static_cast<size_t>(param.dimension), 0.0);
  // Trapezoids; exact for the piecewise-linear curve when keys fall on steps.
  const int steps = 256;
  const double h = (time2 - time1) / steps;
  for (int s = 0; s < steps; ++s) {
    const ParamValue a = paramValueAt(param, time1 + s * h);
    const ParamValue b = paramValueAt(param, time1 + (s + 1) * h);
    for (size_t i = 0; i < sum.size(); ++i) sum[i] += 0.5 * h * (a.numbers[i] + b.numbers[i]);
  }
  return sum;
}

// Texts handed out stay valid for the life of the parameter, so a text that
// is replaced or deleted is kept.
void retireValue(Param &param, const ParamValue &value) {
  if (value.text) param.retired.push_back(value.text);
}

void storeParamValue(Param &param, bool atTime, double time, ParamValue value) {
  ParamValue &slot = atTime ? param.keys[time] : param.value;
  retireValue(param, slot);
  slot = std::move(value);
}

void dropParamKeys(Param &param) {
  for (const auto &key : param.keys) retireValue(param, key.second);
  param.keys.clear();
}

bool setParamNumbers(Param *param, bool atTime, double time, const std::vector<double> &values) {
  if (!param || (param->kind != ParamKind::Int && param->kind != ParamKind::Double)) return false;
  if (static_cast<int>(values.size()) != param->dimension) return false;
  ParamValue v;
  v.numbers = values;
  if (param->kind == ParamKind::Int) {
    for (double &n : v.numbers) n = param->type == kOfxParamTypeBoolean ? (n != 0.0 ? 1.0 : 0.0) : std::round(n);
  }
  std::lock_guard<std::mutex> lock(param->mutex);
  storeParamValue(*param, atTime, time, std::move(v));
  return true;
}

bool setParamText(Param *param, bool atTime, double time, const std::string &text) {
  if (!param || param->kind != ParamKind::Text) return false;
  ParamValue v;
  v.text = std::make_shared<const std::string>(text);
  std::lock_guard<std::mutex> lock(param->mutex);
  storeParamValue(*param, atTime, time, std::move(v));
  return true;
}

}  // namespace tbhost
