#pragma once
// A runtime error of the component: a number and a description, raised to
// whoever called or caused the failing handler.
#include <stdexcept>
#include <string>

#include "korvena/Export.h"

namespace korvena {

class KORVENA_API RuntimeError : public std::runtime_error {
 public:
  RuntimeError(long number, const std::string& description) : std::runtime_error(description), number_(number) {}
  long number() const { return number_; }
  std::string description() const { return what(); }

 private:
  long number_;
};

// Error numbers the component raises itself.
namespace err {
inline constexpr long InvalidProcedureCall = 5;
inline constexpr long Overflow = 6;
inline constexpr long TypeMismatch = 13;
inline constexpr long ObjectNotSet = 91;
inline constexpr long InvalidPropertyValue = 380;
inline constexpr long ElementNotFound = 35601;
}  // namespace err

}  // namespace korvena
