import leadvoice

leadvoice.main()
