#pragma once
// A black, frameless window over the whole screen that the photo windows
// stand on; clicking it brings them all forward.
#include "kit/form.h"

namespace korvena {

class frmBackGround : public kit::Form {
 public:
  frmBackGround();

 protected:
  void Form_Load() override;
  void Form_Activate() override;
};

}  // namespace korvena
