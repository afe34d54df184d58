#include "GraphBuild.h"

#include "GraphUtils.h"

#include <utility>

namespace vorlund {

ElementRef GraphBuild::Add(const char *factory, const char *name) const
{
    if (name) {
        CreatedFilter made = CreateFilter(factory, Bin(), name);
        return made.status == CreateFilterStatus::Ok ? std::move(made.element) : ElementRef();
    }
    // Helpers without a name of their own get a unique one from GStreamer.
    ElementRef element(gst_element_factory_make(factory, nullptr), RefMode::HasRef);
    if (!element || !gst_bin_add(Bin(), element.get()))
        return {};
    return element;
}

void GraphBuild::Box(std::string_view text) const
{
    context.notifier.ShowMessage(text, "Error!");
}

void GraphBuild::ErrBox(std::string_view text) const
{
    ShowErrorBox(context.notifier, text);
}

} // namespace vorlund
