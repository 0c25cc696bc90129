#ifndef TAV_ENGINE_ESTIMATION_FAMILY_STATE_H_
#define TAV_ENGINE_ESTIMATION_FAMILY_STATE_H_

#include <memory>
#include <vector>

namespace tav {

// The working state one model family keeps during one fit: its work tables, its current values
// and whatever it carries from one iteration to the next. A family makes a fresh one for every
// fit (ModelFamily::NewState, estimation/model_family.h); the fit holds it, and a copy of the fit
// copies it.
class FamilyState {
 public:
  virtual ~FamilyState() = default;
  virtual std::unique_ptr<FamilyState> Clone() const = 0;
};

// A family's state of type Derived, copied as a whole.
template <class Derived>
class CopyableFamilyState : public FamilyState {
 public:
  std::unique_ptr<FamilyState> Clone() const override {
    return std::make_unique<Derived>(static_cast<const Derived&>(*this));
  }
};

// The states of a fit's families, by the family's place in the run's family list. A place stays
// empty until its family first asks for its state; a copy copies every state.
class FamilyStates {
 public:
  FamilyStates() = default;
  FamilyStates(const FamilyStates& other) { *this = other; }
  FamilyStates& operator=(const FamilyStates& other) {
    if (this == &other) return *this;
    states_.clear();
    states_.reserve(other.states_.size());
    for (const auto& state : other.states_) {
      states_.push_back(state != nullptr ? state->Clone() : nullptr);
    }
    return *this;
  }
  FamilyStates(FamilyStates&&) noexcept = default;
  FamilyStates& operator=(FamilyStates&&) noexcept = default;

  // The state at place, or nullptr while there is none.
  FamilyState* At(int place) const {
    return place >= 0 && place < static_cast<int>(states_.size()) ? states_[place].get() : nullptr;
  }
  // Makes state the one at place.
  FamilyState& Set(int place, std::unique_ptr<FamilyState> state) {
    if (place >= static_cast<int>(states_.size())) states_.resize(place + 1);
    states_[place] = std::move(state);
    return *states_[place];
  }

 private:
  std::vector<std::unique_ptr<FamilyState>> states_;
};

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_FAMILY_STATE_H_
