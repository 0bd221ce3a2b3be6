#pragma once

namespace qor {

// An object whose contents can be copied into another one. Assign asks the source to copy itself
// here; a class that knows how overrides AssignTo, and the default refuses with EConvertError
// "Cannot assign a <source class> to a <target class>".
class TPersistent {
 public:
  TPersistent() = default;
  virtual ~TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;

  virtual const char* ClassName() const noexcept { return "TPersistent"; }
  // Copies ASource into this object.
  virtual void Assign(const TPersistent& ASource);

 protected:
  // Copies this object into ADest.
  virtual void AssignTo(TPersistent& ADest) const;
  [[noreturn]] void AssignError(const TPersistent& ASource) const;
};

}  // namespace qor
