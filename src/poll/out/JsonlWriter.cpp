#include "poll/out/ReadingJson.h"
#include "poll/out/Writers.h"

namespace {

class JsonlWriter : public IReadingSink {
  public:
    JsonlWriter(std::FILE* out, std::string bus) : m_out(out), m_bus(std::move(bus)) {}
    void OnReading(const Reading& r) override {
        std::fputs((CompactJson(ReadingJson(r, m_bus)) + "\n").c_str(), m_out);
        std::fflush(m_out);
    }

  private:
    std::FILE* m_out;
    std::string m_bus;
};

}  // namespace

std::unique_ptr<IReadingSink> MakeJsonlWriter(std::FILE* out, std::string bus) {
    return std::make_unique<JsonlWriter>(out, std::move(bus));
}
