! Two searches through the Fortran module; prints each level's bits and status.
program host
    use, intrinsic :: iso_c_binding
    use occsolve
    implicit none
    real(c_double), pointer :: e(:,:,:), w(:)
    integer :: k, b, s, status

    ! Bands at 4 and 6 eV, 2 electrons, 300 K.
    call set_state(nspin=1, nk=1, nband=2, t=300d0, totale=2d0)
    call allocate_bandenergy(e, 1, 2, 1)
    call allocate_kwpt(w, 1)
    e(1, :, 1) = [4d0, 6d0]
    w = 1d0
    call getef(status=status)
    call report()

    ! Two spin channels, two k-points of weight 1/2, three bands, 500 K, 2.5 electrons.
    call set_state(nspin=2, nk=2, nband=3, t=500d0, totale=2.5d0)
    call allocate_bandenergy(e, 2, 3, 2)
    call allocate_kwpt(w, 2)
    w = 0.5d0
    do k = 1, 2
        do b = 1, 3
            do s = 1, 2
                e(s, b, k) = 1d0 + 2d0 * (b - 1) + (s - 1) + 0.5d0 * (k - 1)
            end do
        end do
    end do
    call getef(status=status)
    call report()

contains

    subroutine report()
        integer(c_int64_t) :: bits
        bits = transfer(efermi(), bits)
        ! The bits as an unsigned decimal, as the C host prints them.
        if (bits >= 0) then
            print '(i0, 1x, i0)', bits, status
        else
            print '(a)', 'negative levels are not expected here'
        end if
    end subroutine

end program host
