#pragma once
// Where message octets go: a string in tests, the socket in a run.

#include <string>
#include <string_view>

#include "common/result.h"

namespace vlt {

class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual Status write(std::string_view bytes) = 0;
};

class StringSink final : public ByteSink {
  public:
    Status write(std::string_view bytes) override {
        m_text.append(bytes);
        return {};
    }
    const std::string& text() const { return m_text; }

  private:
    std::string m_text;
};

}  // namespace vlt
