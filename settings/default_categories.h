// The default category tree under HKCU SOFTWARE\Vardane\Categories.
#pragma once

namespace vardane {

struct AppContext;

// The three folder keys Download, Downloaded and Deleted: their unnamed values
// follow the current language at every start. A missing Download or
// Downloaded key is made with the sub-categories Music, Video, Software,
// eBook and Others, named in the language current at that moment.
void BuildDefaultCategories(AppContext& ctx);

}  // namespace vardane
