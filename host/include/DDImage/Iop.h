/// \file Iop.h  Image operators: description, requests and rows.
#pragma once

#include "DDImage/Box.h"
#include "DDImage/Channel.h"
#include "DDImage/Info.h"
#include "DDImage/Op.h"

namespace DD::Image {

class Row;

/// What the host asks of one input: a box, channels and an expected use count.
struct InputRequest {
  Box box;
  ChannelSet channels;
  int count = 0;
};

class Iop : public Op, public IopInfoOwner {
 public:
  explicit Iop(Node* node);
  ~Iop() override;

  /// Input `i`. Never null: an unconnected input (or an index out of range) is the host's empty
  /// operator, which has no channels and whose rows read as zero.
  Iop* input(int i) const;
  Iop* input0() const { return input(0); }
  Iop* input1() const { return input(1); }
  /// Connects `op` to input `i` (null disconnects). Host side; `i` must be below inputs().
  void set_input(int i, Iop* op);

  /// Copies the description of input 0.
  void copy_info();
  /// Merges input i's bounding box and channels into this description; the format stays.
  void merge_info(int i);

  /// Validates the inputs, then this operator (validate_output).
  void validate(bool for_real = true);

  /// Asks this operator for a box of channels: records the request, then calls request_inputs.
  void request(int x, int y, int r, int t, const ChannelSet& channels, int count);
  /// The last request this operator received (empty before any).
  const InputRequest& requested() const { return requested_; }
  /// Number of requests received so far.
  int request_count() const { return request_count_; }

  /// The host's empty operator that stands for every unconnected input.
  static Iop& empty_input();

  // Overridable operations, in the order of the layer's virtual table (after those of Op).

  /// Fills pixels [x, r) of line y of `out` for `channels`, every one of them: Row::get leaves them
  /// uncleared. Called by Row::get with a span already clipped to this operator's bounding box.
  virtual void render_row(int y, int x, int r, const ChannelSet& channels, Row& out) = 0;
  /// Passes a request on to the inputs; the default asks every input for the same.
  virtual void request_inputs(int x, int y, int r, int t, const ChannelSet& channels, int count);
  /// Lets the operator adjust what the host will read from input `index` after a request; the host
  /// uses the adjusted request to decide which part of that input to prepare. The default keeps it.
  virtual void adjust_input_request(int index, InputRequest& request);

  /// Calls adjust_input_request for each input and stores the result as that input's request.
  void settle_input_requests();

 private:
  InputRequest requested_;
  int request_count_ = 0;
};

}  // namespace DD::Image
