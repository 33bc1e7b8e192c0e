#pragma once

#include <QString>

#include <exception>

// A run-time failure inside one step of an operation. It carries only the
// description text the user sees in the error report; operations that arm an
// ErrorTrap catch it, every other caller lets it reach runUntrapped().
class RuntimeError : public std::exception
{
public:
    explicit RuntimeError(QString description) : mDescription(std::move(description)) { }

    const QString &description() const noexcept { return mDescription; }
    const char *what() const noexcept override { return "RuntimeError"; }

private:
    QString mDescription;
};

namespace Errors {
inline const QString TypeMismatch = QStringLiteral("Type mismatch");
inline const QString Overflow = QStringLiteral("Overflow");
inline const QString InvalidPropertyValue = QStringLiteral("Invalid property value");
inline const QString InvalidProcedureCall = QStringLiteral("Invalid procedure call or argument");
inline const QString ObjectNotSet
        = QStringLiteral("Object variable or With block variable not set");
} // namespace Errors
