! occsolve for Fortran hosts: the Fermi-level search, the electron count and the
! occupation functions of the library, over its C interface (occsolve/occsolve.h).
! Units: eV and K.  A state holds at most 2/nspin electrons.
!
! Stateless, on the host's own arrays e(nspin, nband, nk) in eV and w(nk), the temperature
! before the level or electron count:
!   call find_level(e, w, 300d0, 8d0, level, st)        ! in the data's own bracket
!   call electron_count(e, w, 300d0, level, count, st)
!   call find_bracket(e, w, 300d0, lo, hi, st)
! The counts are the arrays' extents.  Threads: these keep no state; any number of
! threads may call them at once, on different arrays or on the same ones while nobody
! writes them.
!
! Shared state, one per process (one thread at a time):
!   real(c_double), pointer :: e(:,:,:), w(:)
!   call set_state(nspin=2, nk=nk, nband=nb, t=300d0, totale=8d0)
!   call allocate_bandenergy(e, 2, nb, nk)   ! e(s, b, k) in eV: the library's storage
!   call allocate_kwpt(w, nk)
!   ... fill e and w ...
!   call getef(emin=2d0, emax=20d0, status=st)           ! or getef_bracket's bracket
!   print *, efermi()
! The calls on the shared state are named getef...; the stateless ones find_... and
! electron_count.  energy_bracket is getef_bracket's former name, kept.
! The arrays are the library's own storage viewed as Fortran pointers (no copy); they
! stay valid until deallocated or allocated again.
module occsolve
    use, intrinsic :: iso_c_binding
    implicit none
    private

    public :: set_state, efermi, counters
    public :: allocate_bandenergy, allocate_kwpt, deallocate_arrays
    public :: fermi, dfermi, getef, getef_bracket, energy_bracket
    public :: find_level, electron_count, find_bracket
    public :: status_converged, status_stalled, status_unusable

    integer, parameter :: status_converged = 0  ! the level holds the electrons (count, bracket: computed)
    integer, parameter :: status_stalled = 1    ! no level in the bracket holds them
    integer, parameter :: status_unusable = 2   ! the input cannot be read; nothing changed

    ! occsolve_bands of the C interface: a band structure in the caller's arrays.
    type, bind(C) :: c_bands
        integer(c_int32_t) :: nspin, nband, nk
        integer(c_int64_t) :: extent(3)
        type(c_ptr) :: energy, weight
    end type

    interface
        subroutine c_set_nspin(n) bind(C, name="occsolve_set_nspin")
            import :: c_int32_t
            integer(c_int32_t), value :: n
        end subroutine
        subroutine c_set_nk(n) bind(C, name="occsolve_set_nk")
            import :: c_int32_t
            integer(c_int32_t), value :: n
        end subroutine
        subroutine c_set_nband(n) bind(C, name="occsolve_set_nband")
            import :: c_int32_t
            integer(c_int32_t), value :: n
        end subroutine
        subroutine c_set_t(x) bind(C, name="occsolve_set_t")
            import :: c_double
            real(c_double), value :: x
        end subroutine
        subroutine c_set_totale(x) bind(C, name="occsolve_set_totale")
            import :: c_double
            real(c_double), value :: x
        end subroutine
        real(c_double) function c_efermi() bind(C, name="occsolve_efermi")
            import :: c_double
        end function
        integer(c_int32_t) function c_ik() bind(C, name="occsolve_ik")
            import :: c_int32_t
        end function
        integer(c_int32_t) function c_iband() bind(C, name="occsolve_iband")
            import :: c_int32_t
        end function
        integer(c_int32_t) function c_ispin() bind(C, name="occsolve_ispin")
            import :: c_int32_t
        end function
        type(c_ptr) function c_allocate_bandenergy(ns, nb, nk) bind(C, name="occsolve_allocate_bandenergy")
            import :: c_ptr, c_int64_t
            integer(c_int64_t), value :: ns, nb, nk
        end function
        type(c_ptr) function c_allocate_kwpt(nk) bind(C, name="occsolve_allocate_kwpt")
            import :: c_ptr, c_int64_t
            integer(c_int64_t), value :: nk
        end function
        subroutine c_deallocate_bandenergy() bind(C, name="occsolve_deallocate_bandenergy")
        end subroutine
        subroutine c_deallocate_kwpt() bind(C, name="occsolve_deallocate_kwpt")
        end subroutine
        pure real(c_double) function c_fermi(e, l, t, n) bind(C, name="occsolve_fermi")
            import :: c_double, c_int32_t
            real(c_double), value :: e, l, t
            integer(c_int32_t), value :: n
        end function
        pure real(c_double) function c_dfermi(e, l, t, n) bind(C, name="occsolve_dfermi")
            import :: c_double, c_int32_t
            real(c_double), value :: e, l, t
            integer(c_int32_t), value :: n
        end function
        integer(c_int) function c_getef(emin, emax, status) bind(C, name="occsolve_getef")
            import :: c_int, c_ptr
            type(c_ptr), value :: emin, emax, status
        end function
        integer(c_int) function c_getef_bracket(emin, emax) bind(C, name="occsolve_getef_bracket")
            import :: c_int, c_double
            real(c_double), intent(inout) :: emin, emax
        end function
        integer(c_int) function c_find_level(bands, t, electrons, emin, emax, level) &
                bind(C, name="occsolve_find_level")
            import :: c_int, c_double, c_ptr, c_bands
            type(c_bands), intent(in) :: bands
            real(c_double), value :: t, electrons
            type(c_ptr), value :: emin, emax
            real(c_double), intent(inout) :: level
        end function
        integer(c_int) function c_electron_count(bands, t, level, count) bind(C, name="occsolve_electron_count")
            import :: c_int, c_double, c_bands
            type(c_bands), intent(in) :: bands
            real(c_double), value :: t, level
            real(c_double), intent(inout) :: count
        end function
        integer(c_int) function c_find_bracket(bands, t, emin, emax) bind(C, name="occsolve_find_bracket")
            import :: c_int, c_double, c_bands
            type(c_bands), intent(in) :: bands
            real(c_double), value :: t
            real(c_double), intent(inout) :: emin, emax
        end function
    end interface

contains

    ! Sets the counts and parameters given; those not given keep their values.
    subroutine set_state(nspin, nk, nband, t, totale)
        integer, intent(in), optional :: nspin, nk, nband
        real(c_double), intent(in), optional :: t, totale
        if (present(nspin)) call c_set_nspin(int(nspin, c_int32_t))
        if (present(nk)) call c_set_nk(int(nk, c_int32_t))
        if (present(nband)) call c_set_nband(int(nband, c_int32_t))
        if (present(t)) call c_set_t(t)
        if (present(totale)) call c_set_totale(totale)
    end subroutine

    ! The Fermi level in eV left by the last getef.
    real(c_double) function efermi()
        efermi = c_efermi()
    end function

    ! The search's loop counters after the last getef.
    subroutine counters(ik, iband, ispin)
        integer, intent(out) :: ik, iband, ispin
        ik = c_ik()
        iband = c_iband()
        ispin = c_ispin()
    end subroutine

    ! Allocates the band energies, zero-filled, and points e at them: e(s, b, k).
    ! e is null when memory is short.
    subroutine allocate_bandenergy(e, nspin, nband, nk)
        real(c_double), pointer, intent(out) :: e(:,:,:)
        integer, intent(in) :: nspin, nband, nk
        type(c_ptr) :: storage
        storage = c_allocate_bandenergy(int(nspin, c_int64_t), int(nband, c_int64_t), int(nk, c_int64_t))
        nullify(e)
        if (c_associated(storage)) call c_f_pointer(storage, e, [nspin, nband, nk])
    end subroutine

    ! Allocates the k-point weights, zero-filled, and points w at them.
    subroutine allocate_kwpt(w, nk)
        real(c_double), pointer, intent(out) :: w(:)
        integer, intent(in) :: nk
        type(c_ptr) :: storage
        storage = c_allocate_kwpt(int(nk, c_int64_t))
        nullify(w)
        if (c_associated(storage)) call c_f_pointer(storage, w, [nk])
    end subroutine

    ! Frees both arrays; pointers to them dangle afterwards.
    subroutine deallocate_arrays()
        call c_deallocate_bandenergy()
        call c_deallocate_kwpt()
    end subroutine

    ! Electrons in a state of `energy` at `level` and `temperature`.
    real(c_double) elemental function fermi(energy, level, temperature, nspin)
        real(c_double), intent(in) :: energy, level, temperature
        integer, intent(in) :: nspin
        fermi = c_fermi(energy, level, temperature, int(nspin, c_int32_t))
    end function

    ! Its broadening weight, electrons per eV.
    real(c_double) elemental function dfermi(energy, level, temperature, nspin)
        real(c_double), intent(in) :: energy, level, temperature
        integer, intent(in) :: nspin
        dfermi = c_dfermi(energy, level, temperature, int(nspin, c_int32_t))
    end function

    ! The Fermi level, left in efermi(); emin and emax bracket it (both, or 2 to 20 eV).
    subroutine getef(emin, emax, status)
        real(c_double), intent(in), optional :: emin, emax
        integer, intent(out), optional :: status
        real(c_double), target :: lo, hi
        integer(c_int), target :: st
        type(c_ptr) :: plo, phi
        plo = c_null_ptr
        phi = c_null_ptr
        if (present(emin)) then
            lo = emin
            plo = c_loc(lo)
        end if
        if (present(emax)) then
            hi = emax
            phi = c_loc(hi)
        end if
        st = c_getef(plo, phi, c_null_ptr)
        if (present(status)) status = int(st)
    end subroutine

    ! A bracket that holds the level whatever totale is: the lowest and highest band
    ! energy widened by 41 kT and at least 1 meV.  status_unusable, leaving emin and emax
    ! as they were, when the state cannot be read or has no state.
    !     call getef_bracket(lo, hi, st)
    !     if (st == status_converged) call getef(emin=lo, emax=hi, status=st)
    subroutine getef_bracket(emin, emax, status)
        real(c_double), intent(inout) :: emin, emax
        integer, intent(out) :: status
        status = int(c_getef_bracket(emin, emax))
    end subroutine

    ! The former name of getef_bracket, kept for hosts written against it: true when the
    ! bracket was set.
    logical function energy_bracket(emin, emax)
        real(c_double), intent(inout) :: emin, emax
        energy_bracket = c_getef_bracket(emin, emax) == status_converged
    end function

    ! The C description of the host's arrays e(nspin, nband, nk) and w(nk): the counts are
    ! e's extents; weights fewer than nk make it unreadable (nk = -1).
    recursive function bands_of(e, w) result(b)
        real(c_double), intent(in), target, contiguous :: e(:,:,:), w(:)
        type(c_bands) :: b
        b%nspin = int(size(e, 1), c_int32_t)
        b%nband = int(size(e, 2), c_int32_t)
        b%nk = int(size(e, 3), c_int32_t)
        b%extent = [int(size(e, 1), c_int64_t), int(size(e, 2), c_int64_t), int(size(e, 3), c_int64_t)]
        b%energy = c_null_ptr
        b%weight = c_null_ptr
        if (size(e) > 0) b%energy = c_loc(e)
        if (size(w) > 0) b%weight = c_loc(w)
        if (size(w) < size(e, 3)) b%nk = -1
    end function

    ! The Fermi level of e(nspin, nband, nk) with weights w(nk) at temperature t holding
    ! `electrons`, searched in [emin, emax] (both given, else in the data's own bracket,
    ! find_bracket's; 2 to 20 eV where the data has none).  level: the
    ! level tried last, the Fermi level when status is status_converged; left as it was
    ! when status is status_unusable.  Keeps no state: safe from many threads at once.
    recursive subroutine find_level(e, w, t, electrons, level, status, emin, emax)
        real(c_double), intent(in), target, contiguous :: e(:,:,:), w(:)
        real(c_double), intent(in) :: t, electrons
        real(c_double), intent(inout) :: level
        integer, intent(out) :: status
        real(c_double), intent(in), optional :: emin, emax
        real(c_double), target :: lo, hi
        type(c_ptr) :: plo, phi
        plo = c_null_ptr
        phi = c_null_ptr
        if (present(emin) .and. present(emax)) then
            lo = emin
            hi = emax
            plo = c_loc(lo)
            phi = c_loc(hi)
        end if
        status = int(c_find_level(bands_of(e, w), t, electrons, plo, phi, level))
    end subroutine

    ! The electron count of e(nspin, nband, nk), w(nk) at `level` and temperature t, the
    ! sum find_level bisects on; count is left as it was when status is status_unusable.
    recursive subroutine electron_count(e, w, t, level, count, status)
        real(c_double), intent(in), target, contiguous :: e(:,:,:), w(:)
        real(c_double), intent(in) :: t, level
        real(c_double), intent(inout) :: count
        integer, intent(out) :: status
        status = int(c_electron_count(bands_of(e, w), t, level, count))
    end subroutine

    ! A bracket [emin, emax] that holds the level of e(nspin, nband, nk), w(nk) at
    ! temperature t whatever the electron count: the lowest and highest energy widened by
    ! 41 kT and at least 1 meV.  Left as they were when status is status_unusable.
    recursive subroutine find_bracket(e, w, t, emin, emax, status)
        real(c_double), intent(in), target, contiguous :: e(:,:,:), w(:)
        real(c_double), intent(in) :: t
        real(c_double), intent(inout) :: emin, emax
        integer, intent(out) :: status
        status = int(c_find_bracket(bands_of(e, w), t, emin, emax))
    end subroutine

end module occsolve
