// The password and PIN dialogs, the secret-sharing parameters and their
// rules. What they return to callers is in exports.cpp.
#pragma once

#include <cstddef>
#include <string>

#include "ui/model.h"

namespace gorget {

inline constexpr std::size_t kPasswordLimit = 1024;
inline constexpr std::size_t kMinNewPassword = 6;
inline constexpr int kStatic = -1;  // id of texts nobody refers to

// Asks for an existing password (dialog 176, field 218).
class GetPasswordDialog : public Dialog {
  public:
    enum : int { kTemplate = 176, kField = 218 };
    // limit: most characters the caller's buffer takes.
    GetPasswordDialog(const std::string& prompt, std::size_t limit);

  protected:
    void command(int id) override;
};

// Sets a new password (dialog 1004): OK only while the first field, its
// trailing blanks removed, has at least six characters and the confirmation
// equals it.
class NewPasswordDialog : public Dialog {
  public:
    enum : int { kTemplate = 1004, kFirst = 1413, kSecond = 1414 };
    NewPasswordDialog(const std::string& prompt, std::size_t limit);

  protected:
    void changed(int id) override;
    void command(int id) override;
};

// The PIN of a token: one field and OK; closing it any other way cancels.
class TokenPinDialog : public Dialog {
  public:
    enum class Token { etoken, rutoken, pkcs11 };
    TokenPinDialog(Token token, std::size_t limit);
    int field() const { return field_; }

  protected:
    void command(int id) override;

  private:
    int field_;
};

// Threshold and number of media of a shared key store (dialog 576).
class ShareParamsDialog : public Dialog {
  public:
    enum : int { kTemplate = 576, kThreshold = 1659, kNumber = 1657, kAccept = IDOK };
    ShareParamsDialog();
    int threshold() const { return find(kThreshold)->value; }
    int number() const { return find(kNumber)->value; }

  protected:
    void changed(int id) override;
    void command(int id) override;
};

}  // namespace gorget
