#include "AudioFilterControl.h"

namespace vorlund {

bool IAudioFilterControl::SetRetiming(long on, IAviFilterControl *)
{
    return SetFlag("retiming", on);
}

} // namespace vorlund
