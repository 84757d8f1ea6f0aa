/// \file Quorlen.h  The relighting operator.
#pragma once

#include <cstdint>

#include "DDImage/Iop.h"
#include "DDImage/Knob.h"
#include "DDImage/Row.h"
#include "plugin/Parameters.h"

namespace quorlen {

/// Relights its "color" input from "normal", "P" and "noiseP" passes with one parallel or point light.
class Quorlen : public DD::Image::Iop {
 public:
  explicit Quorlen(DD::Image::Node* node);

  void validate_output(bool for_real) override;
  void declare_knobs(DD::Image::Knob_Closure& f) override;
  int knob_changed(DD::Image::Knob* k) override;
  ~Quorlen() override;
  const char* help_text() const override;
  const char* class_name() const override;
  const char* input_name(int index) const override;
  std::uintptr_t registration_handle() const override;
  void render_row(int y, int x, int r, const DD::Image::ChannelSet& channels, DD::Image::Row& out) override;
  void request_inputs(int x, int y, int r, int t, const DD::Image::ChannelSet& channels, int count) override;
  void adjust_input_request(int index, DD::Image::InputRequest& request) override;

  const Parameters& parameters() const { return params_; }
  Parameters& parameters() { return params_; }

 private:
  Parameters params_;
};

/// The factory of the registration record: null when the host's allocator has no memory.
DD::Image::Iop* create_operator(DD::Image::Node* node);

}  // namespace quorlen
