#include "scpi/standard_commands.h"

#include "scpi/command_call.h"
#include "scpi/reply_numbers.h"

namespace tarnel::scpi {

namespace {

constexpr Bounds kByteMask{0, 255, 255, 0};
constexpr Bounds kRegisterMask{0, 65535, ConditionRegister::kUsedBits, 0};

std::uint8_t ByteMaskIn(CommandCall& call) { return static_cast<std::uint8_t>(call.Whole(kByteMask)); }

std::string NoParameterAnd(CommandCall& call, long long value) {
    call.NoParameter();
    return Nr1(value);
}

// The [:EVENt]?, :CONDition? and :ENABle[?] rows of one STATus register.
void AddRegisterRows(std::vector<CommandRow>& rows, const std::string& node,
                     ConditionRegister StatusRegisters::*which) {
    rows.push_back({"STATus:" + node + "[:EVENt]", {},
                    [which](CommandCall& call) {
                        return NoParameterAnd(call, (call.Connection().status.*which).TakeEvent());
                    }});
    rows.push_back({"STATus:" + node + ":CONDition", {},
                    [which](CommandCall& call) {
                        return NoParameterAnd(call, (call.Connection().status.*which).Condition());
                    }});
    rows.push_back({"STATus:" + node + ":ENABle",
                    [which](CommandCall& call) {
                        (call.Connection().status.*which).SetEnable(static_cast<std::uint16_t>(call.Whole(kRegisterMask)));
                    },
                    [which](CommandCall& call) {
                        return NoParameterAnd(call, (call.Connection().status.*which).Enable());
                    }});
}

}  // namespace

std::vector<CommandRow> StandardCommands(const InstrumentBasics& basics) {
    std::vector<CommandRow> rows = {
        {"*IDN", {},
         [identity = basics.identity](CommandCall& call) {
             call.NoParameter();
             return identity ? identity() : std::string("0,0,0,0");
         }},
        {"*RST",
         [reset = basics.reset](CommandCall& call) {
             call.NoParameter();
             if (reset) reset();
         },
         {}},
        {"*CLS",
         [](CommandCall& call) {
             call.NoParameter();
             call.Connection().errors.Clear();
             call.Connection().status.ClearEvents();
         },
         {}},
        {"*ESE", [](CommandCall& call) { call.Connection().status.SetEventEnable(ByteMaskIn(call)); },
         [](CommandCall& call) { return NoParameterAnd(call, call.Connection().status.EventEnable()); }},
        {"*ESR", {}, [](CommandCall& call) { return NoParameterAnd(call, call.Connection().status.TakeEvents()); }},
        {"*SRE", [](CommandCall& call) { call.Connection().status.SetServiceRequestEnable(ByteMaskIn(call)); },
         [](CommandCall& call) { return NoParameterAnd(call, call.Connection().status.ServiceRequestEnable()); }},
        {"*STB", {},
         [](CommandCall& call) {
             const ConnectionState& connection = call.Connection();
             return NoParameterAnd(call, connection.status.StatusByte(connection.errors.Count() > 0, call.ReplyWaiting()));
         }},
        {"*OPC",
         [wait = basics.awaitOperations](CommandCall& call) {
             call.NoParameter();
             if (wait) wait();
             call.Connection().status.RecordOperationComplete();
         },
         [wait = basics.awaitOperations](CommandCall& call) {
             call.NoParameter();
             if (wait) wait();
             return Nr1(1);
         }},
        {"*WAI",
         [wait = basics.awaitOperations](CommandCall& call) {
             call.NoParameter();
             if (wait) wait();
         },
         {}},
        {"*TST", {},
         [selfTest = basics.selfTest](CommandCall& call) {
             return NoParameterAnd(call, !selfTest || selfTest() ? 0 : 1);
         }},
        {"SYSTem:ERRor[:NEXT]", {},
         [](CommandCall& call) {
             call.NoParameter();
             return call.Connection().errors.PopEntry();
         }},
        {"SYSTem:ERRor:COUNt", {},
         [](CommandCall& call) {
             return NoParameterAnd(call, static_cast<long long>(call.Connection().errors.Count()));
         }},
        {"SYSTem:ERRor:ALL", {},
         [](CommandCall& call) {
             call.NoParameter();
             return call.Connection().errors.PopAll();
         }},
        {"SYSTem:VERSion", {},
         [](CommandCall& call) {
             call.NoParameter();
             return std::string(kScpiVersion);
         }},
        {"STATus:PRESet",
         [](CommandCall& call) {
             call.NoParameter();
             call.Connection().status.Preset();
         },
         {}},
    };
    AddRegisterRows(rows, "OPERation", &StatusRegisters::operation);
    AddRegisterRows(rows, "QUEStionable", &StatusRegisters::questionable);
    return rows;
}

void UpdateConditions(const InstrumentBasics& basics, ConnectionState& connection) {
    connection.status.operation.Update(basics.operationCondition ? basics.operationCondition() : 0);
    connection.status.questionable.Update(basics.questionableCondition ? basics.questionableCondition() : 0);
}

}  // namespace tarnel::scpi
