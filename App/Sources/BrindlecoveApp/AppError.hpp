#pragma once
// An application error with a domain and code, whose what() is the user-facing sentence.

#include <QString>

#include <stdexcept>

namespace brindlecove {

class AppError : public std::runtime_error {
public:
    AppError(QString domain, int code, const QString& message)
        : std::runtime_error(message.toStdString()), domain_(std::move(domain)), code_(code) {}
    const QString& domain() const { return domain_; }
    int code() const { return code_; }

private:
    QString domain_;
    int code_;
};

}  // namespace brindlecove
