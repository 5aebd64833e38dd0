#include "core/register_image.h"

namespace kelvaro {

void RegisterImage::Update_Param()
{
    for (int k = 0; k < RegisterCount; ++k)
        Reg_Words[k] = Rx_Bytes[2 * k + 1] * 256 + Rx_Bytes[2 * k];
}

} // namespace kelvaro
