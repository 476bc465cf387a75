#include "ui/Desktop.h"

#include "platform/Platform.h"

namespace kestrel {

namespace {
class NoDesktop final : public Desktop {
public:
    bool printDialog(QPrinter&, bool) override { return false; }
    int runModal(QDialog&) override { return 0; }
};
} // namespace

Desktop& desktop()
{
    if (auto* d = dynamic_cast<Desktop*>(&platform()))
        return *d;
    static NoDesktop none;
    return none;
}

} // namespace kestrel
