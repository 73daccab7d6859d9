// Player pieces that build natively.
