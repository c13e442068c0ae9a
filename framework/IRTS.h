#pragma once
/// \file
/// The host runtime as the module sees it.

#include "EditorInterfaces.h"
#include "Guid.h"

/// [host imp] The host runtime system: object registry, activation, messages, camera, editor
/// and the attribute type registry. Slot order is binding; unnamed slots are placeholders the
/// module never calls.
class IRTS {
public:
    virtual void Placeholder0() {}
    virtual void Placeholder1() {}
    virtual void Placeholder2() {}
    virtual void Placeholder3() {}
    virtual void Placeholder4() {}
    virtual void Placeholder5() {}
    virtual void Placeholder6() {}
    virtual void Placeholder7() {}
    virtual void Placeholder8() {}
    virtual void Placeholder9() {}
    virtual void Placeholder10() {}
    virtual void Placeholder11() {}
    virtual void Placeholder12() {}
    virtual void Placeholder13() {}
    virtual void Placeholder14() {}
    virtual void Placeholder15() {}
    virtual void Placeholder16() {}
    virtual void Placeholder17() {}
    /// Slot 18. The parent of `object` (null when it has none).
    virtual Handle GetParent(Handle object) = 0;
    /// Slot 19. A host reference to the object, handed on to `IEditor::AttributeChanged`.
    virtual ULong LookupObject(const CGUID& object) = 0;
    virtual void Placeholder20() {}
    virtual void Placeholder21() {}
    virtual void Placeholder22() {}
    /// Slot 23. Interface `id` of `object`, through the object's own `QueryInterface`. False when the
    /// object does not exist or refuses; `*out` is then null (when given).
    virtual bool QueryObjectInterface(Handle object, ULong id, void** out) = 0;
    /// Slot 24. Every `ReleaseInterface` ends here; the host decides when the object dies.
    virtual void ReleaseObject(RtsObject* object) = 0;
    virtual void Placeholder25() {}
    virtual void Placeholder26() {}
    virtual void Placeholder27() {}
    virtual void Placeholder28() {}
    virtual void Placeholder29() {}
    virtual void Placeholder30() {}
    virtual void Placeholder31() {}
    /// Slot 32. Asks the host to activate `object`. The module passes 1, 1.
    virtual void ActivateObject(Handle sender, Handle object, int flag1, int flag2) = 0;
    /// Slot 33. Asks the host to deactivate `object`. The module passes 1.
    virtual void DeactivateObject(Handle sender, Handle object, int flag) = 0;
    virtual void Placeholder34() {}
    virtual void Placeholder35() {}
    virtual void Placeholder36() {}
    virtual void Placeholder37() {}
    virtual void Placeholder38() {}
    /// Slot 39. GUID of the game camera (resolved with identifier 62).
    virtual CGUID GetCamera() = 0;
    virtual void Placeholder40() {}
    virtual void Placeholder41() {}
    virtual void Placeholder42() {}
    virtual void Placeholder43() {}
    virtual void Placeholder44() {}
    virtual void Placeholder45() {}
    virtual void Placeholder46() {}
    virtual void Placeholder47() {}
    /// Slot 48. A report: level (always 2 from the module), where ("Class::Operation"), what.
    virtual void Message(int level, const char* location, const char* text, ...) = 0;
    virtual void Placeholder49() {}
    virtual void Placeholder50() {}
    virtual void Placeholder51() {}
    virtual void Placeholder52() {}
    virtual void Placeholder53() {}
    /// Slot 54. The editor.
    virtual IEditor* GetEditor() = 0;
    virtual void Placeholder55() {}
    /// Slot 56. The attribute type registry.
    virtual ITypeRegistry* GetTypeRegistry() = 0;

protected:
    ~IRTS() = default;
};
