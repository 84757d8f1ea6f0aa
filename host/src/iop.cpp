/// \file iop.cpp  Image operators: inputs, description, validation and requests.
#include "DDImage/Iop.h"

#include "DDImage/Row.h"

namespace DD::Image {
namespace {

/// Stands for every unconnected input: no channels, an empty box, rows of zeros. Shared by all nodes
/// and never written after construction, so any thread may read it.
class EmptyIop final : public Iop {
 public:
  EmptyIop() : Iop(nullptr) {}
  const char* class_name() const override { return "Empty"; }
  void validate_output(bool) override {}
  void render_row(int, int, int, const ChannelSet&, Row&) override {}
  void request_inputs(int, int, int, int, const ChannelSet&, int) override {}
};

}  // namespace

Iop::Iop(Node* node) : Op(node) {}

Iop::~Iop() = default;

Iop& Iop::empty_input() {
  static EmptyIop* empty = new EmptyIop;  // never destroyed: nodes may outlive static teardown
  return *empty;
}

Iop* Iop::input(int i) const {
  if (i < 0 || static_cast<std::size_t>(i) >= inputs_.size() || !inputs_[static_cast<std::size_t>(i)])
    return &empty_input();
  return inputs_[static_cast<std::size_t>(i)];
}

void Iop::set_input(int i, Iop* op) {
  if (i < 0 || static_cast<std::size_t>(i) >= inputs_.size()) return;
  inputs_[static_cast<std::size_t>(i)] = op;
}

void Iop::copy_info() { info_ = input0()->info(); }

void Iop::merge_info(int i) {
  const Info2D& other = input(i)->info();
  info_.box() = info_.box().merged(other.box());
  info_.channels() += other.channels();
}

void Iop::validate(bool for_real) {
  if (this == &empty_input()) return;
  for (int i = 0; i < inputs(); ++i) input(i)->validate(for_real);
  validate_output(for_real);
}

void Iop::request(int x, int y, int r, int t, const ChannelSet& channels, int count) {
  if (this == &empty_input()) return;
  requested_ = InputRequest{Box(x, y, r, t), channels, count};
  ++request_count_;
  request_inputs(x, y, r, t, channels, count);
}

void Iop::request_inputs(int x, int y, int r, int t, const ChannelSet& channels, int count) {
  for (int i = 0; i < inputs(); ++i) input(i)->request(x, y, r, t, channels, count);
}

void Iop::adjust_input_request(int, InputRequest&) {}

void Iop::settle_input_requests() {
  for (int i = 0; i < inputs(); ++i) {
    Iop* in = input(i);
    if (in == &empty_input()) continue;
    InputRequest request = in->requested_;
    adjust_input_request(i, request);
    in->requested_ = request;
    in->settle_input_requests();
  }
}

}  // namespace DD::Image
