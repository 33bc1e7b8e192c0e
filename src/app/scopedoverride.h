#pragma once

// Replaces the implementation of a seam (message boxes and dialogs, the clock,
// the quote fetch, keep-awake) while the object lives, and puts back the one
// that was installed before, so overrides nest. A seam is a class with
// instance() and a private `static inline Seam *sInstalled` that names
// ScopedOverride its friend; nullptr there means the production implementation.
template<typename Seam>
class ScopedOverride
{
public:
    explicit ScopedOverride(Seam &replacement) : mPrevious(Seam::sInstalled)
    {
        Seam::sInstalled = &replacement;
    }
    ~ScopedOverride() { Seam::sInstalled = mPrevious; }

    ScopedOverride(const ScopedOverride &) = delete;
    ScopedOverride &operator=(const ScopedOverride &) = delete;

private:
    Seam *mPrevious;
};
